#pragma once
// Running the CLI as the crash drivers do: a child process of its own, so
// that a command that dies by SIGKILL is seen as such, with only the fault
// settings the driver hands it.
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace qx::test {

struct Outcome {
    bool signaled = false;
    int signal = 0;
    int exit = -1;
    std::string out, err;

    std::string describe() const {
        std::string d = signaled ? "killed by signal " + std::to_string(signal) : "exit " + std::to_string(exit);
        if (!err.empty()) d += "; stderr: " + err.substr(0, 600);
        return d;
    }
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// fork + execve rather than system(): a shell in between would turn the
// child's SIGKILL into an exit code. Everything the child needs is prepared
// before the fork, so that it only calls what is safe there. Fault settings
// of the test's own environment are not passed on: only `extra` arms one.
inline Outcome RunProgram(std::string program, const std::vector<std::string>& args, const Environment& extra,
                          const std::string& scratch) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUILLEX_FAILPOINT", 17) != 0 && std::strncmp(*e, "QUILLEX_POWERCUT", 16) != 0)
            env.emplace_back(*e);
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = args;
    argv.push_back(program.data());
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string outPath = scratch + "/cli.out", errPath = scratch + "/cli.err";

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(125);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        o.err = "could not run the command";
        return o;
    }
    o.signaled = WIFSIGNALED(status);
    o.signal = o.signaled ? WTERMSIG(status) : 0;
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(outPath);
    o.err = Slurp(errPath);
    return o;
}

inline Outcome RunCli(const std::vector<std::string>& args, const Environment& extra, const std::string& scratch) {
    return RunProgram(QX_CLI_PATH, args, extra, scratch);
}

// The system call tracer, which can kill the program in the middle of a
// commit; empty when it is not installed.
inline std::string StracePath() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/strace").c_str(), X_OK) == 0) return dir + "/strace";
    return {};
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// What a change leaves beside the archive while it is under way; after the
// recovery none of it may remain.
inline std::vector<std::string> WorkFilesIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        for (const char* tail : {".compacted", ".uncompacted", ".salvaged", ".intent", "-journal"})
            if (name.size() >= std::strlen(tail) &&
                name.compare(name.size() - std::strlen(tail), std::string::npos, tail) == 0)
                found.push_back(name);
    }
    return found;
}

// The drivers' documents per sample: `wanted`, or more when the sweep asks
// for more (QUILLEX_CRASH_DOCUMENTS).
inline long SampleDocuments(long wanted) {
    const char* n = std::getenv("QUILLEX_CRASH_DOCUMENTS");
    return n && std::atol(n) > wanted ? std::atol(n) : wanted;
}

// A sample archive and a pristine copy beside it, put back before every try
// into the same folder, so that the paths stored in the archive stay those
// of its files.
class SampleUnderTest {
public:
    bool WriteSample(SampleOptions o, std::string& error) {
        if (root.path().empty()) {
            error = "no scratch folder";
            return false;
        }
        archive = root.file("archive");
        pristine = root.file("pristine");
        o.directory = archive;
        SampleManifest m;
        if (!WriteSampleArchive(o, m, error)) return false;
        mainPath = m.mainDatabase;
        std::filesystem::copy(archive, pristine, std::filesystem::copy_options::recursive);
        return true;
    }

    void Restore() const {
        std::filesystem::remove_all(archive);
        std::filesystem::copy(pristine, archive, std::filesystem::copy_options::recursive);
    }

    // A page from the middle of the largest sub database overwritten with
    // random bytes (the cipher's page check rejects it), in the archive and
    // in its pristine copy alike.
    void DamageSubDatabasePage() const {
        std::string largest;
        for (const auto& e : std::filesystem::directory_iterator(archive))
            if (e.path().extension() == ".pdb" && (largest.empty() || e.file_size() > std::filesystem::file_size(largest)))
                largest = e.path().string();
        ASSERT_FALSE(largest.empty()) << "no sub database to damage";
        const std::uintmax_t pages = std::filesystem::file_size(largest) / 16384;
        ASSERT_GE(pages, 2u) << largest;
        const std::uintmax_t page = pages <= 3 ? 2 : pages / 2 + 1;
        std::string junk(16384, '\0');
        std::uint32_t x = 2463534242u;
        for (char& c : junk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x & 0xFF);
        }
        for (const std::string& file : {largest, pristine + "/" + std::filesystem::path(largest).filename().string()}) {
            std::FILE* f = std::fopen(file.c_str(), "r+b");
            ASSERT_NE(f, nullptr) << file;
            std::fseek(f, static_cast<long>((page - 1) * 16384), SEEK_SET);
            std::fwrite(junk.data(), 1, junk.size(), f);
            std::fclose(f);
        }
    }

    // A page of the main database's FOLDERS overwritten with random bytes:
    // the first page whose damage stops a walk of the table after its
    // first rows, in the archive and in its pristine copy alike.
    void DamageMainDatabaseTable() const {
        const std::string kept = Slurp(mainPath);
        const std::size_t pages = kept.size() / 16384;
        const std::string password = engine::PasswordBytes(PasswordForGeneration(8));
        for (std::size_t page = 2; page <= pages; ++page) {
            std::string damaged = kept;
            for (std::size_t i = 0; i < 16384; ++i)
                damaged[(page - 1) * 16384 + i] = static_cast<char>((i * 2654435761u + page * 40503u) >> 7);
            WriteFile(mainPath, damaged);
            bool hit = false;
            {
                sql::Error err;
                sql::Database db = sql::Database::open(qx::RealEnv(), mainPath, password, sql::OpenMode::ReadOnly, err);
                sql::Statement st(db, "SELECT * FROM FOLDERS ORDER BY ID");
                sql::Step step;
                long read = 0;
                while ((step = st.step()) == sql::Step::Row) ++read;
                // The file must still open (the archive is opened before a
                // salvage), and some documents must read before the damage.
                hit = db.isOpen() && step == sql::Step::Failed && read > 0;
            }
            if (hit) {
                WriteFile(pristine + "/" + std::filesystem::path(mainPath).filename().string(), damaged);
                return;
            }
        }
        WriteFile(mainPath, kept);
        FAIL() << "no page of FOLDERS found in " << mainPath;
    }

    Outcome Run(const std::vector<std::string>& args, const Environment& env = {}) const {
        return RunCli(args, env, root.path());
    }

    // The recovery: the archive opened again by a fresh process, nothing else.
    Outcome Recover() const { return Run({"open", "--no", mainPath}); }

    TempDir root;
    std::string archive, pristine, mainPath;
};

// What every recovery must leave: an archive (the folder `archive`) that
// opens again (`recovered` is that open), every document of `kept` leading to its bytes or to those
// the finished command (`reference`) gives it, no data row stranded, no work
// file beside the archive. Adds the documents lost to `lost`; the state
// found, unless the main database cannot be read.
inline std::optional<ArchiveSnapshot> ExpectRecovered(const Outcome& recovered, const std::string& archive,
                                                      const std::string& mainPath, const ArchiveSnapshot& kept,
                                                      const ArchiveSnapshot& reference, long& lost) {
    EXPECT_TRUE(!recovered.signaled && (recovered.exit == 0 || recovered.exit == 4))
        << "the archive did not open again: " << recovered.describe();
    ArchiveSnapshot now = TakeSnapshot(mainPath);
    if (!now.opened) {
        ADD_FAILURE() << "after the recovery the main database cannot be read: " << now.notes.front();
        return std::nullopt;
    }
    const Findings lostHere = LostDocuments(kept, reference, now);
    const Findings stranded = StrandedData(kept, now);
    lost += lostHere.count;
    EXPECT_EQ(lostHere.count, 0) << "after the recovery:\n" << lostHere.text();
    EXPECT_EQ(stranded.count, 0) << "after the recovery:\n" << stranded.text();
    EXPECT_EQ(WorkFilesIn(archive), std::vector<std::string>())
        << "left after the recovery";
    return now;
}

}  // namespace qx::test
