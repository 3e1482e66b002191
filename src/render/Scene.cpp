#include "render/Scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/Settings.h"
#include "common/Text.h"
#include "connection/RaceState.h"
#include "render/GLResources.h"
#include "render/GLSurface.h"
#include "track/TrackData.h"
#include "view/FrameLoop.h"
#include "view/SceneText.h"
#include "view/Standings.h"

namespace gs {

namespace {

// Slots of the overlay's textures.
constexpr int HudBarSlot = 5, HudBarMaskSlot = 6;

void DrawTrack(const TrackData& track) {
    // Straight from the mesh's own arrays: a point is six floats, position
    // then colour, and an object's triangles are its index array. Flat
    // shading colours each triangle by its last corner, which the loader
    // made the file's first.
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glShadeModel(GL_FLAT);
    for (const MeshObject& object : track.Mesh.Objects) {
        if (!object.Visible || object.TriangleCount <= 0) continue;
        glVertexPointer(3, GL_FLOAT, sizeof(MeshPoint), &object.Points->x);
        glColorPointer(3, GL_FLOAT, sizeof(MeshPoint), &object.Points->r);
        glDrawElements(GL_TRIANGLES, 3 * object.TriangleCount, GL_UNSIGNED_SHORT, object.Triangles);
    }
    glShadeModel(GL_SMOOTH);
    glPopClientAttrib();
}

// The icon quad in the car's turned frame: the picture's top row at +y.
void IconQuad(float a, float b, const Rgb* tint) {
    glBegin(GL_QUADS);
    if (tint) glColor3f(tint->r, tint->g, tint->b);
    else glColor3f(1, 1, 1);
    glTexCoord2f(0, 0);
    glVertex3f(-a, -b, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-a, b, 0);
    glTexCoord2f(1, 1);
    glVertex3f(a, b, 0);
    if (tint) glColor3f(tint->r, tint->g, tint->b);
    glTexCoord2f(1, 0);
    glVertex3f(a, -b, 0);
    glEnd();
}

void DrawCars(SceneContext& s) {
    const RaceState& race = s.race;
    const IconSize2 icon = IconHalfSize(s.camera.CameraDistance, s.settings.IconSize);
    const float m = LabelScale(s.camera.CameraDistance, s.panelHeight);
    for (int i = 0; i < race.PlayerCount; ++i) {
        const PlayerRecord& p = race.Players[i];
        const bool followed = i == race.FollowIndex;
        const bool named = s.settings.ShowNames || followed;
        const bool timed = s.settings.ShowSpeed || followed;
        const std::string speed = timed ? SpeedText(p.DrawSpeed, s.settings.UseKmh != 0) : std::string();
        // A car whose icon and labels all lie outside the view is left out:
        // it would not change a pixel. The labels hang below the car, centred,
        // at most a line and a half of text deep.
        const float textWidth = std::max(named ? s.gl->font.TextWidth(p.Name) : 0.0f, s.gl->font.TextWidth(speed));
        const float reach = std::max(std::hypot(icon.a, icon.b), m * std::hypot(textWidth / 2 + 1, 3.5f));
        if (!CircleInView(s.camera, s.panelWidth, s.panelHeight, FieldOfViewDegrees, p.DrawX, p.DrawY, p.Z, reach))
            continue;
        glPushMatrix();
        glTranslatef(p.DrawX, p.DrawY, p.Z);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glPushMatrix();
        glRotatef(p.DrawHeading * 57.0f, 0, 0, 1);
        const int slot = CarIconSlot(p.Car);
        // Darken the background where the car is, then add the tinted picture.
        glBlendFunc(GL_ZERO, GL_ONE_MINUS_SRC_COLOR);
        glBindTexture(GL_TEXTURE_2D, s.gl->textures[slot + 1]);
        IconQuad(icon.a, icon.b, nullptr);
        glBindTexture(GL_TEXTURE_2D, s.gl->textures[slot]);
        glBlendFunc(GL_ONE, GL_SRC_ALPHA);
        const Rgb colour = PlayerColour(i);
        IconQuad(icon.a, icon.b, &colour);
        glPopMatrix();

        const float grey = followed ? 1.0f : 0.8f;
        glColor3f(grey, grey, grey);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_CULL_FACE);  // text is seen from its front (Font.h)
        if (named) {
            glPushMatrix();
            glScalef(m, m, 0.1f);
            glTranslatef(0, -1.6f, 0);
            s.gl->font.Print(true, "%s", p.Name);
            glPopMatrix();
        }
        if (timed) {
            glPushMatrix();
            glScalef(m, m, 0.1f);
            glTranslatef(0, -2.4f, 0);
            s.gl->font.Print(true, "%s", speed.c_str());
            glPopMatrix();
        }
        glDisable(GL_CULL_FACE);
        glPopMatrix();
    }
}

void TexturedQuad(const float (&corners)[4][2], float z) {
    static const float st[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    glBegin(GL_QUADS);
    for (int v = 0; v < 4; ++v) {
        glTexCoord2f(st[v][0], st[v][1]);
        glVertex3f(corners[v][0], corners[v][1], z);
    }
    glEnd();
}

// A text cell at `scale` about the current origin; the scale is undone after.
void Cell(TextLayer& layer, float sx, float sy, float sz, std::string_view text) {
    glScalef(sx, sy, sz);
    layer.Add(false, text);
    glScalef(1 / sx, 1 / sy, 1 / sz);
}

}  // namespace

void BeginFrame(const Camera& camera) {
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glClearColor(0.1f, 0.2f, 0.1f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    // The turn comes after the shift in the matrix: the world turns about
    // its origin.
    glTranslatef(-camera.CameraX, -camera.CameraY, -camera.CameraDistance);
    glRotatef(camera.CameraRotation, 0, 0, 1);
}

void DrawScene(SceneContext& s) {
    BeginFrame(s.camera);
    DrawTrack(s.track);
    DrawCars(s);
    DrawOverlay(s);
    DrawStandings(s);
}

void DrawOverlay(SceneContext& s) {
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 0.64f);
    for (int k = -1; k <= 1; k += 2) {
        const float panel[8][2] = {{0.6f * k, 0.127f}, {0.6f * k, 0.35f},    {0.118f * k, 0.35f}, {0.118f * k, 0.127f},
                                   {0.6f * k, 0.127f}, {0.118f * k, 0.127f}, {0.16f * k, 0.104f}, {0.6f * k, 0.104f}};
        glBegin(GL_QUADS);
        for (const auto& v : panel) glVertex3f(v[0], v[1], -1);
        glEnd();
    }

    glEnable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const int hovered = ToolbarButtonAt(s.panelWidth, s.panelHeight, s.mouseX, s.mouseY);
    for (int i = 0; i < ToolbarButtonCount; ++i) {
        glColor4f(1, 1, 1, i == hovered ? 1.0f : 0.7f);
        glBindTexture(GL_TEXTURE_2D, s.gl->textures[i]);
        const float c = (i - 2) * 0.21f;
        const float button[4][2] = {{c - 0.11f, 0.37f}, {c - 0.10f, 0.41f}, {c + 0.11f, 0.41f}, {c + 0.10f, 0.37f}};
        TexturedQuad(button, -1);
    }

    // The mask multiplies what is on screen, then the bar is added on top.
    static const float bar[4][2] = {{-0.6f, 0.09f}, {-0.6f, 0.414f}, {0.6f, 0.414f}, {0.6f, 0.09f}};
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glColor3f(1, 1, 1);
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
    glBindTexture(GL_TEXTURE_2D, s.gl->textures[HudBarMaskSlot]);
    TexturedQuad(bar, -1);
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, s.gl->textures[HudBarSlot]);
    TexturedQuad(bar, -1);

    glPushMatrix();
    glTranslatef(-28.1f, 17.6f, -50);
    glScalef(0.84f, 1, 1);
    glDisable(GL_BLEND);
    glColor3f(0, 0, 0);
    s.logText.Begin(s.cacheText, s.gl->font);
    for (std::size_t i = 0; i < s.race.Log.Size(); ++i) {
        glTranslatef(0, -0.9f, 0);
        s.logText.Add(false, s.race.Log.At(i));
    }
    s.logText.End();
    glPopMatrix();
}

void DrawStandings(SceneContext& s) {
    const RaceState& race = s.race;
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    const StandingsPage page = s.plan.page;
    const LeaderData& leader = s.plan.leader;

    TextLayer& text = s.standingsText;
    text.Begin(s.cacheText, s.gl->font);
    glColor3f(0, 0, 0);
    glTranslatef(6.4f, 16.6f, -50);
    text.Add(false, "Pos");
    glTranslatef(2, 0, 0);
    text.Add(false, "Driver");
    glTranslatef(7, 0, 0);
    text.Add(false, "Car");
    glTranslatef(3.2f, 0, 0);
    text.Add(false, "Laps");
    glTranslatef(2.6f, 0, 0);
    text.Add(false, "Best");
    glTranslatef(3.8f, 0, 0);
    text.Add(false, "Total");
    glTranslatef(-18.6f, -1, 0);

    // Each position is looked for among all live slots, so a player in any
    // slot gets its row.
    for (int p = page.first; p < page.last; ++p) {
        for (int k = 0; k < race.PlayerCount; ++k) {
            const PlayerRecord& player = race.Players[k];
            if (player.Position != p + 1) continue;
            if (s.settings.ShowNames) {
                glColor3f(0, 0, 0);
            } else {
                const Rgb c = PlayerColour(k);
                glColor3f(c.r, c.g, c.b);
            }
            glPushMatrix();
            Cell(text, 0.8f, 0.8f, 0.8f, std::to_string(player.Position));
            glTranslatef(2, 0, 0);
            Cell(text, 0.8f, 0.8f, 0.8f, FieldView(player.Name, sizeof player.Name));
            glTranslatef(7, 0, 0);
            Cell(text, 0.7f, 0.8f, 0.8f, FieldView(player.Car, sizeof player.Car));
            glTranslatef(4.2f, 0, 0);
            Cell(text, 0.8f, 0.8f, 0.8f, std::to_string(player.Lap));
            glTranslatef(1.6f, 0, 0);
            Cell(text, 0.8f, 0.8f, 0.8f, LapTimeText(player.BestMin, player.BestSec, player.BestHund));
            glTranslatef(3.8f, 0, 0);
            Cell(text, 0.8f, 0.8f, 0.8f, TotalOrGapText(player, leader));
            glPopMatrix();
            glTranslatef(0, -0.75f, 0);
        }
    }
    text.End();
}

}  // namespace gs
