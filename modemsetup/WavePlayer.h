#pragma once
// Plays a WAVE sound without waiting for its end. Failure to play is silent:
// a missing sound never stands in the way of the work.

#include <filesystem>

void PlayWaveFile(const std::filesystem::path& file);
