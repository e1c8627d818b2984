#include "xbase/Engine.h"

std::string TXbEngine::BaseAlias(const std::filesystem::path& dbf) {
  std::string a = XbUpper(dbf.stem().string().substr(0, 8));
  for (char& c : a)
    if (c == '~' || c == '-' || c == ' ') c = '_';
  return a;
}

XbStatus TXbEngine::Use(const std::filesystem::path& dbf, TXbTable::OpenOptions options, int& area) {
  area = 0;
  auto table = std::make_unique<TXbTable>();
  if (auto st = table->Open(dbf, options, &settings_); !st) return st;
  const std::string base = BaseAlias(dbf);
  std::string alias = base;
  for (int n = 1; AreaOf(alias) != 0; ++n) alias = base + "_" + std::to_string(n);
  size_t slot = 0;
  while (slot < areas_.size() && areas_[slot].table) ++slot;
  if (slot == areas_.size()) areas_.emplace_back();
  areas_[slot].alias = alias;
  areas_[slot].table = std::move(table);
  area = static_cast<int>(slot + 1);
  current_ = area;
  return {};
}

XbStatus TXbEngine::Close(int area) {
  TXbTable* t = Table(area);
  if (!t) return XbFail(XbError::NoWorkArea, std::to_string(area));
  XbStatus st = t->Close();
  areas_[static_cast<size_t>(area - 1)] = Area{};
  if (current_ == area) current_ = 0;
  return st;
}

XbStatus TXbEngine::CloseAll() {
  XbStatus first;
  for (size_t i = 0; i < areas_.size(); ++i) {
    if (!areas_[i].table) continue;
    if (XbStatus st = Close(static_cast<int>(i + 1)); !st && first) first = std::move(st);
  }
  areas_.clear();
  current_ = 0;
  return first;
}

XbStatus TXbEngine::Select(int area) {
  if (area != 0 && !Table(area)) return XbFail(XbError::NoWorkArea, std::to_string(area));
  current_ = area;
  return {};
}

int TXbEngine::AreaOf(std::string_view alias) const {
  const std::string up = XbUpper(alias);
  for (size_t i = 0; i < areas_.size(); ++i)
    if (areas_[i].table && areas_[i].alias == up) return static_cast<int>(i + 1);
  return 0;
}

std::string TXbEngine::Alias(int area) const {
  if (area < 1 || static_cast<size_t>(area) > areas_.size() || !areas_[static_cast<size_t>(area - 1)].table) return {};
  return areas_[static_cast<size_t>(area - 1)].alias;
}

TXbTable* TXbEngine::Table(int area) {
  if (area < 1 || static_cast<size_t>(area) > areas_.size()) return nullptr;
  return areas_[static_cast<size_t>(area - 1)].table.get();
}
