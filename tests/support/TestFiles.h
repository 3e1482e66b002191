// Files that tests write into a scratch run folder: bitmaps and tracks with
// known bytes, and a scratch folder that the test changes into.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gs::test {

struct Pixel {
    std::uint8_t r, g, b;
};

// An uncompressed 24-bit bitmap with a 40-byte info header; `at(x, y)` gives
// the pixel with y = 0 the top row of the picture.
void WriteBmp24(const std::string& path, int width, int height, const std::function<Pixel(int x, int y)>& at);

// A file holding exactly `bytes`.
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);
// A path file header (and no nodes) with the given node count and finish.
void WritePathFile(const std::string& path, std::uint32_t nodes, std::uint32_t finish);

// A fresh folder under the test temp dir that the process changes into for
// the scope's life.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

}  // namespace gs::test
