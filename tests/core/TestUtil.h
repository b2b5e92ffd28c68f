#pragma once
// Shared helpers of the core tests.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qx::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quillex-test-XXXXXX").string();
        m_path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// How often `part` occurs in `text`, overlapping ones counted.
inline int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The lines of a text file (a log), each without its CR LF.
inline std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.size() - (l.ends_with('\r') ? 1 : 0)));
    return lines;
}

// Makes a file immutable for as long as the object lives, so that even root
// cannot write it; skips when the file system does not support it.
class Immutable {
public:
    explicit Immutable(std::string path) : m_path(std::move(path)) {
        m_ok = std::system(("chattr +i '" + m_path + "' 2>/dev/null").c_str()) == 0;
    }
    ~Immutable() {
        if (m_ok) std::system(("chattr -i '" + m_path + "' 2>/dev/null").c_str());
    }
    bool ok() const { return m_ok; }

private:
    std::string m_path;
    bool m_ok = false;
};

}  // namespace qx::test
