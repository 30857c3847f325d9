#pragma once
// What the vela2cam tests share: scratch directories, running a program and
// capturing its output, fitsverify, and a strict JSON syntax check.

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vela2cam_test {

// A fresh directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vela2cam-test-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        if (!path_.empty()) Remove(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // The names in the directory (or a subdirectory), sorted.
    std::vector<std::string> Entries(const std::string& sub = "") const {
        std::vector<std::string> names;
        DIR* dir = opendir((sub.empty() ? path_ : path_ + "/" + sub).c_str());
        if (!dir) return names;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    static void Remove(const std::string& path) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) return;
        if (S_ISDIR(info.st_mode)) {
            if (DIR* dir = opendir(path.c_str())) {
                while (dirent* entry = readdir(dir)) {
                    std::string name = entry->d_name;
                    if (name != "." && name != "..") Remove(path + "/" + name);
                }
                closedir(dir);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }

    std::string path_;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Single quotes for the shell.
inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line with stdout and stderr captured separately
// (both are pipes or files, never a terminal).
inline Outcome RunShell(const std::string& command) {
    TempDir scratch;
    std::string outPath = scratch.path() + "/out", errPath = scratch.path() + "/err";
    // A subshell, so the redirections cover a whole pipeline or job list.
    std::string line =
        "( " + command + " ) >" + Quote(outPath) + " 2>" + Quote(errPath) + " </dev/null";
    int status = std::system(line.c_str());
    Outcome run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    return run;
}

// fitsverify's exit status counts errors plus warnings.
inline Outcome Fitsverify(const std::string& path) { return RunShell("fitsverify " + Quote(path)); }

// Strict JSON syntax (RFC 8259), enough to tell that a script can parse it.
class JsonSyntax {
  public:
    static bool Valid(const std::string& text) {
        JsonSyntax parser(text);
        parser.Space();
        if (!parser.Value()) return false;
        parser.Space();
        return parser.at_ == text.size();
    }

  private:
    explicit JsonSyntax(const std::string& text) : text_(text) {}

    bool Value() {
        if (at_ >= text_.size()) return false;
        char c = text_[at_];
        if (c == '{') return Container('}', true);
        if (c == '[') return Container(']', false);
        if (c == '"') return String();
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return Number();
        return Word("true") || Word("false") || Word("null");
    }
    bool Container(char close, bool object) {
        ++at_;
        Space();
        if (Peek(close)) return ++at_, true;
        for (;;) {
            Space();
            if (object) {
                if (!String()) return false;
                Space();
                if (!Peek(':')) return false;
                ++at_;
                Space();
            }
            if (!Value()) return false;
            Space();
            if (Peek(close)) return ++at_, true;
            if (!Peek(',')) return false;
            ++at_;
        }
    }
    bool String() {
        if (!Peek('"')) return false;
        for (++at_; at_ < text_.size(); ++at_) {
            unsigned char c = text_[at_];
            if (c == '"') return ++at_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++at_ >= text_.size()) return false;
                char e = text_[at_];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i)
                        if (++at_ >= text_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(text_[at_])))
                            return false;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        if (Peek('-')) ++at_;
        if (Peek('0')) {
            ++at_;  // no leading zeros
            if (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
                return false;
        } else if (!Digits()) {
            return false;
        }
        if (Peek('.') && (++at_, !Digits())) return false;
        if (Peek('e') || Peek('E')) {
            ++at_;
            if (Peek('+') || Peek('-')) ++at_;
            if (!Digits()) return false;
        }
        return true;
    }
    bool Digits() {
        size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        return at_ > start;
    }
    bool Word(const char* word) {
        std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }
    bool Peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
    void Space() {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos)
            ++at_;
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace vela2cam_test
