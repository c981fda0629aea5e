// `qvue --list [--single] [--decode] FOLDER`: the rows the grid would show
// for FOLDER (with --decode: as its decoded view shows them), printed without
// a window or a display.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Backslash, TAB, LF and CR as \\, \t, \n and \r; other bytes as they are.
std::string EscapeCell(const std::string& text);

// `args` are the arguments after "--list". Rows go to `out`, messages and the
// final counter line to `err`. Returns the exit status: 0 listed (a missing
// folder lists nothing), 1 the rules cannot be loaded or the folder cannot be
// listed, 2 bad arguments.
int RunListCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
