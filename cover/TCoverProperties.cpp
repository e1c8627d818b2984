#include "cover/TCoverProperties.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

#include "cover/TFaxCoverPanel.h"

namespace {
constexpr int kMinSize = 5;  // as when resizing with the mouse
}

TCoverProperties::TCoverProperties(TFaxCoverPanel& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
  setObjectName("CoverProperties");
  auto* form = new QFormLayout(this);
  auto spin = [&](const char* name, const char* label) {
    auto* s = new QSpinBox(this);
    s->setObjectName(name);
    s->setKeyboardTracking(false);
    form->addRow(label, s);
    connect(s, &QSpinBox::valueChanged, this, &TCoverProperties::Apply);
    return s;
  };
  LeftEdit = spin("LeftEdit", "Left");
  TopEdit = spin("TopEdit", "Top");
  WidthEdit = spin("WidthEdit", "Width");
  HeightEdit = spin("HeightEdit", "Height");
  CaptionEdit = new QLineEdit(this);
  CaptionEdit->setObjectName("CaptionEdit");
  form->addRow("Text", CaptionEdit);
  connect(CaptionEdit, &QLineEdit::editingFinished, this, &TCoverProperties::Apply);
  LockedBox = new QCheckBox("Locked", this);
  LockedBox->setObjectName("LockedBox");
  form->addRow(LockedBox);
  connect(LockedBox, &QCheckBox::toggled, this, &TCoverProperties::Apply);
  Refresh();
}

void TCoverProperties::Refresh() {
  const TCoverSurface& s = panel_.Surface();
  const auto sel = s.Selection();
  const bool one = sel.size() == 1;
  const QSignalBlocker b1(LeftEdit), b2(TopEdit), b3(WidthEdit), b4(HeightEdit), b5(CaptionEdit), b6(LockedBox);
  for (QWidget* w : std::initializer_list<QWidget*>{LeftEdit, TopEdit, WidthEdit, HeightEdit, CaptionEdit, LockedBox})
    w->setEnabled(one);
  LeftEdit->setRange(0, s.Width());
  TopEdit->setRange(0, s.Height());
  WidthEdit->setRange(kMinSize, s.Width());
  HeightEdit->setRange(kMinSize, s.Height());
  if (!one) {
    CaptionEdit->clear();
    return;
  }
  const TCoverObject& o = s.Objects()[sel[0]];
  LeftEdit->setValue(o.Left);
  TopEdit->setValue(o.Top);
  WidthEdit->setValue(o.Width);
  HeightEdit->setValue(o.Height);
  CaptionEdit->setText(QString::fromStdString(o.Caption));
  CaptionEdit->setEnabled(IsTextLike(o.Kind));
  LockedBox->setChecked(o.Locked);
}

void TCoverProperties::Apply() {
  const auto sel = panel_.Surface().Selection();
  if (sel.size() != 1) return;
  TCoverObject& o = panel_.Surface().Object(sel[0]);
  TCoverObject edited = o;
  edited.Left = LeftEdit->value();
  edited.Top = TopEdit->value();
  edited.Width = WidthEdit->value();
  edited.Height = HeightEdit->value();
  if (IsTextLike(o.Kind)) edited.Caption = CaptionEdit->text().toStdString();
  edited.Locked = LockedBox->isChecked();
  // A locked object keeps its place and size, as under the mouse.
  if (o.Locked && edited.Locked) {
    edited.Left = o.Left;
    edited.Top = o.Top;
    edited.Width = o.Width;
    edited.Height = o.Height;
  }
  if (edited == o) return;
  o = edited;
  panel_.Changed();
  Refresh();
}
