#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace larkspire::testing {

// A fresh private folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Whole-file helpers; writing creates missing parent folders and throws on failure.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
std::string readText(const std::filesystem::path& path);
std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
// The names in a folder, sorted; none when it does not exist.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace larkspire::testing
