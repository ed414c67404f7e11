#pragma once

#include <QString>

#include <cstddef>

namespace zlt::platform {

bool FileExists(const QString& AFileName); // follows links; false for a folder
bool ForceDirectories(const QString& AFolder); // creates every missing level
bool DeleteFile(const QString& AFileName);     // false when it could not be deleted

// A file created anew (an existing one is truncated) for reading and writing, held
// exclusively while open: a second opener of the same file through this class is refused.
// Move-only; closes on destruction. Throws Exception with the system's text on any failure,
// a full disk included.
class TExclusiveFile {
public:
    static TExclusiveFile Create(const QString& AFileName);

    TExclusiveFile() = default;
    TExclusiveFile(TExclusiveFile&& AOther) noexcept;
    TExclusiveFile& operator=(TExclusiveFile&& AOther) noexcept;
    TExclusiveFile(const TExclusiveFile&) = delete;
    TExclusiveFile& operator=(const TExclusiveFile&) = delete;
    ~TExclusiveFile();

    bool IsOpen() const noexcept { return FHandle >= 0; }
    const QString& FileName() const noexcept { return FFileName; }
    void Write(const char* AData, std::size_t ASize);
    // Flushes what was written to the file; throws when the system reports a late failure.
    void Close();
    // Closes without reporting anything, for failure paths.
    void Abandon() noexcept;

private:
    int FHandle = -1;
    QString FFileName;
};

} // namespace zlt::platform
