// Cached text layer; see TextLayer.h.
#include "render/TextLayer.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>

#include <algorithm>

#include "render/Font.h"

namespace gs {

namespace {

constexpr std::size_t MaxTextLength = 255;

}  // namespace

TextLayer::TextLayer() = default;

// Qt frees the framebuffer in its context even when another one is current.
TextLayer::~TextLayer() = default;

bool TextLayer::Frame::operator==(const Frame& other) const {
    return viewport == other.viewport && projection == other.projection && count == other.count &&
           std::equal(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(count), other.commands.begin());
}

void TextLayer::Frame::Take(const Frame& other) {
    viewport = other.viewport;
    projection = other.projection;
    if (commands.size() < other.count) commands.resize(other.count);
    for (std::size_t i = 0; i < other.count; ++i) {
        Command& c = commands[i];
        const Command& o = other.commands[i];
        c.matrix = o.matrix;
        c.colour = o.colour;
        c.centred = o.centred;
        c.text.assign(o.text);
    }
    count = other.count;
}

void TextLayer::Begin(bool cache, const OutlineFont& font) {
    cache_ = cache;
    font_ = &font;
    recording_.count = 0;
}

void TextLayer::Add(bool centred, std::string_view text) {
    text = text.substr(0, std::min(text.size(), MaxTextLength));
    if (!cache_) {
        glEnable(GL_CULL_FACE);  // text is seen from its front (Font.h)
        font_->Draw(centred, text);
        glDisable(GL_CULL_FACE);
        return;
    }
    if (recording_.count == recording_.commands.size()) recording_.commands.emplace_back();
    Command& command = recording_.commands[recording_.count++];
    glGetFloatv(GL_MODELVIEW_MATRIX, command.matrix.data());
    glGetFloatv(GL_CURRENT_COLOR, command.colour.data());
    command.centred = centred;
    command.text.assign(text);  // into the capacity the slot already has
}

void TextLayer::Replay(const float* colour) const {
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glEnable(GL_CULL_FACE);  // as Add draws them directly
    for (std::size_t i = 0; i < recording_.count; ++i) {
        const Command& c = recording_.commands[i];
        glLoadMatrixf(c.matrix.data());
        glColor4fv(colour ? colour : c.colour.data());
        font_->Draw(c.centred, c.text);
    }
    glDisable(GL_CULL_FACE);
    glPopMatrix();
}

void TextLayer::End() {
    if (!cache_) return;
    if (recording_.count == 0) return;
    glGetIntegerv(GL_VIEWPORT, recording_.viewport.data());
    glGetFloatv(GL_PROJECTION_MATRIX, recording_.projection.data());
    // The current values and the texture binding are put back by hand:
    // popping GL_CURRENT_BIT did not restore the current colour on this
    // driver, and making the framebuffer object binds a texture of its own.
    GLfloat colour[4], texCoord[4];
    GLint texture = 0;
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, texCoord);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    // A picture belongs to the context that drew it.
    if (QOpenGLContext::currentContext() != pictureContext_) pictureValid_ = false;
    if (pictureValid_ && recording_ == picture_) {
        Copy();
    } else if (recording_ == previous_ && Rebuild(texture)) {
        // The same text a second frame running: worth a picture.
        Copy();
    } else {
        // New text (it may change again at once, as the log does while it
        // is trimmed), or no offscreen picture: draw the glyphs themselves.
        Replay();
        std::swap(previous_, recording_);
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    glTexCoord4fv(texCoord);
    glColor4fv(colour);
}

bool TextLayer::Rebuild(int texture) {
    pictureValid_ = false;
    QOpenGLContext* context = QOpenGLContext::currentContext();
    const int w = recording_.viewport[2], h = recording_.viewport[3];
    if (!context || w <= 0 || h <= 0 || !QOpenGLFramebufferObject::hasOpenGLFramebufferObjects()) return false;
    if (context == failedContext_ && QSize(w, h) == failedSize_) return false;  // not again each frame
    // The framebuffer to return to (making a framebuffer object binds it).
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    QOpenGLExtraFunctions* gl = context->extraFunctions();
    if (!fbo_ || fbo_->width() != w || fbo_->height() != h || context != pictureContext_) {
        fbo_.reset();
        fbo_ = std::make_unique<QOpenGLFramebufferObject>(w, h, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D,
                                                          GL_RGBA8);
        if (!fbo_->isValid()) {
            fbo_.reset();
            failedContext_ = context;
            failedSize_ = QSize(w, h);
            gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
            return false;
        }
        glBindTexture(GL_TEXTURE_2D, fbo_->texture());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        pictureContext_ = context;
    }

    gl->glBindFramebuffer(GL_FRAMEBUFFER, fbo_->handle());
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_VIEWPORT_BIT);
    glViewport(0, 0, w, h);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    // The glyphs in the state they would be drawn in: their colours...
    Replay();
    // ...then their coverage, as alpha 1 wherever a glyph wrote a pixel.
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_ALPHA_TEST);
    static constexpr float Opaque[4] = {0, 0, 0, 1};
    Replay(Opaque);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    // Where the ink is, so that each frame copies only that rectangle.
    // The read-back buffer is kept: a rebuild per change of text must not
    // allocate a viewport's worth each time.
    std::vector<GLubyte>& alpha = inkAlpha_;
    alpha.resize(static_cast<std::size_t>(w) * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_ALPHA, GL_UNSIGNED_BYTE, alpha.data());
    inkLeft_ = w, inkBottom_ = h, inkRight_ = -1, inkTop_ = -1;
    for (int y = 0; y < h; ++y) {
        const GLubyte* row = &alpha[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x)
            if (row[x] != 0) {
                inkLeft_ = std::min(inkLeft_, x), inkRight_ = std::max(inkRight_, x);
                inkBottom_ = std::min(inkBottom_, y), inkTop_ = std::max(inkTop_, y);
            }
    }
    glPopAttrib();
    gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));

    picture_.Take(recording_);
    pictureValid_ = true;
    ++rebuilds_;
    return true;
}

void TextLayer::Copy() const {
    if (inkRight_ < inkLeft_ || inkTop_ < inkBottom_) return;  // nothing visible
    const float w = static_cast<float>(picture_.viewport[2]), h = static_cast<float>(picture_.viewport[3]);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, 0, h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, fbo_->texture());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    // Texel (x, y) lands on pixel (x, y): nearest sampling at pixel centres.
    const float x0 = static_cast<float>(inkLeft_), x1 = static_cast<float>(inkRight_ + 1);
    const float y0 = static_cast<float>(inkBottom_), y1 = static_cast<float>(inkTop_ + 1);
    glBegin(GL_QUADS);
    glTexCoord2f(x0 / w, y0 / h), glVertex2f(x0, y0);
    glTexCoord2f(x1 / w, y0 / h), glVertex2f(x1, y0);
    glTexCoord2f(x1 / w, y1 / h), glVertex2f(x1, y1);
    glTexCoord2f(x0 / w, y1 / h), glVertex2f(x0, y1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();  // also the matrix mode
}

}  // namespace gs
