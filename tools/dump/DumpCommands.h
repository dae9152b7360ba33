#pragma once
// The commands of layerdeck-dump, callable from tests: each writes its result (JSON on
// out for info, files for frames and audio) and returns 0, or returns 1 with a one-line
// reason in error.
#include <cstdio>
#include <string>

namespace dump {

int info(const std::string& path, std::FILE* out, std::string& error);
int frames(const std::string& path, const std::string& outDir, bool raw, std::string& error);
int audio(const std::string& path, const std::string& wavPath, std::string& error);

}  // namespace dump
