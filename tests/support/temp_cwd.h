#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <string>

// A fresh temporary folder that is the working directory while the object lives.
class TempCwd {
public:
    TempCwd() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TempCwd() { QDir::setCurrent(previous_); }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
