#pragma once
// Runs the real program as a user would: arguments, a working folder of its own,
// standard output and error captured, optional limits set in the child.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;


struct Result {
    int code = -1;
    std::string out, err;
};

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Cli : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pagiro_cli_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }

    // Runs in the child before the program starts (for example to set a limit).
    std::function<void()> in_child;

    // Starts the program; the caller waits for it.
    pid_t spawn(const std::vector<std::string>& args) {
        pid_t pid = fork();
        if (pid == 0) {
            if (in_child) in_child();
            freopen((dir / "stdout").c_str(), "w", stdout);
            freopen((dir / "stderr").c_str(), "w", stderr);
            chdir(dir.c_str());
            std::vector<char*> argv{const_cast<char*>(PAGIRO_BINARY)};
            for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(PAGIRO_BINARY, argv.data());
            _exit(127);
        }
        return pid;
    }
    Result finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
        r.out = slurp(dir / "stdout");
        r.err = slurp(dir / "stderr");
        return r;
    }
    Result run(const std::vector<std::string>& args) { return finish(spawn(args)); }
    // Runs a bash command line in the working folder (for pipes).
    Result run_shell(const std::string& command) {
        pid_t pid = fork();
        if (pid == 0) {
            freopen((dir / "stdout").c_str(), "w", stdout);
            freopen((dir / "stderr").c_str(), "w", stderr);
            chdir(dir.c_str());
            execl("/bin/bash", "bash", "-c", command.c_str(), nullptr);
            _exit(127);
        }
        return finish(pid);
    }

    std::set<std::string> files(const fs::path& folder) {
        std::set<std::string> out;
        if (!fs::exists(folder)) return out;
        // A run may be renaming its files meanwhile: a name gone by the time it is
        // looked at is simply not counted (relative() would resolve it and throw).
        for (auto& e : fs::recursive_directory_iterator(folder)) {
            std::error_code gone;
            if (e.is_regular_file(gone)) out.insert(e.path().lexically_relative(folder).string());
        }
        return out;
    }
};

inline std::string gbk_lines(int n) {
    std::string t;
    for (int k = 0; k < n; ++k) t += "\xD6\xD0\xCE\xC4 line " + std::to_string(k) + "\r\n";  // "中文 line k"
    return t;
}

