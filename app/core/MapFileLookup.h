#pragma once
// Where the programs find a map file they are not given a path for:
// the working folder first (where the window looks), then the program's own
// folder (a build tree), then ../share/kq517/ beside the program's folder (an
// installed tree: bin/ and share/kq517/).

#include <filesystem>
#include <string>
#include <vector>

// The folders looked in, in order, for a program at ProgramPath.
std::vector<std::filesystem::path> MapFileFolders(const std::filesystem::path& ProgramPath);

// The first of those folders that holds a regular file Name, joined with
// Name; Name itself when none does (the reading then reports it missing).
std::string FindMapFile(const std::string& Name, const std::filesystem::path& ProgramPath);

// This process's program file (from /proc/self/exe); empty when unknown.
std::filesystem::path ThisProgram();

// "working folder, /x/bin, /x/share/kq517": for a message about a missing map.
std::string DescribeMapFileFolders(const std::filesystem::path& ProgramPath);
