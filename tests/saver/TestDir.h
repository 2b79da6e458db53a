// A temporary folder per test, removed with its contents afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TestDir {
public:
    TestDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "gdsaver-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TestDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
