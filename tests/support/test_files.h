// Small file helpers for tests: a temporary folder that removes itself, and whole-file I/O.
#pragma once

#include <string>
#include <vector>

#include "support/pattern_bytes.h"

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + name
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// `size` zero bytes, written by setting the end of the file (sparse where the file system allows).
bool WriteZeroFile(const std::wstring& path, std::uint64_t size);
std::string ReadFileBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);
// Removes a tree without ever following a link inside it: a link is removed, not what it points to.
void RemoveTree(const std::wstring& path);
// Everything below `root`, relative to it, in the order the system lists it; folders end in '\'.
std::vector<std::wstring> ListTree(const std::wstring& root);

// Makes `link` a symbolic link to the existing file or folder `target`. Under Wine a real Unix link
// (Wine's own CreateSymbolicLinkW does nothing); on Windows CreateSymbolicLinkW. False when the
// system does not let us.
bool MakeSymlink(const std::wstring& link, const std::wstring& target);

// Renames `from` to `to` from a Unix process, which Wine's share modes do not bind (a Windows
// process could not while the file is held). Wine only; false elsewhere.
bool RenameAsUnixProcess(const std::wstring& from, const std::wstring& to);

// Gives the file an access list of its own that lets everyone do anything, as a local user may
// for a file they planted.
bool GrantEveryoneFullControl(const std::wstring& path);

// Reads an environment variable as wide text; empty when unset.
std::wstring EnvVar(const wchar_t* name);

// A path given in the build as text: "/x/y" becomes "Z:\x\y" under Wine; Windows paths stay.
std::wstring BuildPath(const char* utf8);
