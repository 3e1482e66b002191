// Text that changes a few times a second at most (the message log, the
// standings table), drawn from a picture of itself.
//
// Between Begin and End the strings are recorded with the model-view matrix
// and colour they would be drawn with. End draws them: when the record, the
// viewport and the projection equal those of the last picture, that picture
// is copied to the screen pixel for pixel. A record seen for the first time
// is drawn glyph by glyph; when the next frame brings the same record, the
// glyphs are drawn into the picture (an offscreen framebuffer of the
// viewport's size, with the same matrices, colours and GL state), then
// copied. The glyphs are solid and opaque, so the copy with its coverage
// mask equals drawing them directly. Without framebuffer objects, or with
// caching off, the strings are drawn directly as they come.
#pragma once

#include <QSize>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QOpenGLContext;
class QOpenGLFramebufferObject;

namespace gs {

class OutlineFont;

class TextLayer {
public:
    TextLayer();
    ~TextLayer();
    TextLayer(const TextLayer&) = delete;
    TextLayer& operator=(const TextLayer&) = delete;

    // Starts a frame's record, in `font`. With `cache` false every string is
    // drawn at once by Add and End does nothing.
    void Begin(bool cache, const OutlineFont& font);
    // The text (cut at 255 characters, as OutlineFont::Print cuts it) at the
    // current model-view position and colour; centred as Print centres it.
    void Add(bool centred, std::string_view text);
    // Draws the frame's record; see above. Leaves the GL state as it was.
    void End();

    // Times the picture was drawn anew, for tests and benchmarks.
    int Rebuilds() const { return rebuilds_; }

private:
    struct Command {
        std::array<float, 16> matrix;
        std::array<float, 4> colour;
        bool centred;
        std::string text;
        bool operator==(const Command&) const = default;
    };
    // A frame's record. Its commands are kept from frame to frame and
    // overwritten in place, so that recording the same texts again
    // allocates nothing; only the first `count` belong to the frame.
    struct Frame {
        std::array<int, 4> viewport{};
        std::array<float, 16> projection{};
        std::vector<Command> commands;
        std::size_t count = 0;
        bool operator==(const Frame& other) const;
        // Copies the other record's frame into this one's storage.
        void Take(const Frame& other);
    };

    // Draws the record's strings, each in its own colour or all in `colour`.
    void Replay(const float* colour = nullptr) const;
    // Draws the record into the picture; `texture` is the caller's bound
    // texture, which the glyphs are drawn with.
    bool Rebuild(int texture);
    void Copy() const;

    bool cache_ = true;
    const OutlineFont* font_ = nullptr;
    Frame recording_, previous_, picture_;
    bool pictureValid_ = false;
    std::unique_ptr<QOpenGLFramebufferObject> fbo_;
    std::vector<unsigned char> inkAlpha_;       // the picture's alpha, read back to find the ink
    QOpenGLContext* pictureContext_ = nullptr;  // the one fbo_ belongs to
    QOpenGLContext* failedContext_ = nullptr;   // where a picture of failedSize_ could not be made
    QSize failedSize_;
    int inkLeft_ = 0, inkBottom_ = 0, inkRight_ = -1, inkTop_ = -1;  // window pixels, inclusive
    int rebuilds_ = 0;
};

}  // namespace gs
