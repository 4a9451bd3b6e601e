// Files for tests: scratch folders that clean up after themselves, whole-file
// reads and writes, and the build's program folder.
#pragma once

#include <string>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with all it holds at scope
// end. Ends the program when it cannot be made: a test must not go on in a
// folder it does not own.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Names in the folder (without "." and ".."), sorted.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

// A scratch folder that is the working directory while it lives; the old
// working directory comes back at scope end, before the folder goes.
class WorkDir : public ScratchDir {
public:
    WorkDir();
    ~WorkDir();

private:
    std::string m_oldCwd;
};

// Names in a folder (without "." and ".."), sorted; none when it is missing.
std::vector<std::string> ListFolder(const std::string& path);

// Replaces the file's contents with `data`; a failure fails the test.
void WriteFile(const std::string& path, const std::string& data);
// The whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// True when anything, even a dangling link, has that name.
bool FileExists(const std::string& path);

// A file of build/bin, where the program and its libraries lie.
std::string BinPath(const std::string& name);
