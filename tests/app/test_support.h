// Helpers of the panel's tests: files, programs on the PATH; child processes in child_process.h.
#pragma once

#include <string>

#include "child_process.h"

namespace plumo::test {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
void CopyFile(const std::string& from, const std::string& to);
std::string DataPath(const std::string& relative);
// Whether a program of that name is on the PATH.
bool HaveProgram(const std::string& name);
// Runs a command line through /bin/sh and returns its standard output.
std::string Capture(const std::string& command);

}  // namespace plumo::test
