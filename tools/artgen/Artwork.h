// The run folder's artwork: toolbar buttons, HUD bar with mask, car icons
// with masks and the two dialog pictures, drawn with QPainter.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QString>
#include <vector>

namespace gs::art {

// One bitmap of the run folder: its file name and its picture (top row first).
struct ArtworkFile {
    QString name;
    QImage image;
};

// Sizes of the pictures, in pixels.
inline constexpr int ButtonWidth = 256, ButtonHeight = 64;
inline constexpr int HudWidth = 1024, HudHeight = 256;
inline constexpr int CarWidth = 64, CarHeight = 128;
inline constexpr int SettingsPictureWidth = 633, SettingsPictureHeight = 201;
inline constexpr int AboutPictureWidth = 242, AboutPictureHeight = 178;

// The five toolbar buttons, in toolbar order.
std::vector<ArtworkFile> DrawToolbarButtons();
// "hud_bar.bmp" and "hud_bar_mask.bmp".
std::vector<ArtworkFile> DrawHudBar();
// Every car icon followed by its mask ("GTI.bmp", "GTI_MASK.bmp", ...).
std::vector<ArtworkFile> DrawCarIcons();
// "settings_picture.bmp" and "about_picture.bmp".
std::vector<ArtworkFile> DrawDialogPictures();

// Everything above, in that order.
std::vector<ArtworkFile> DrawAllArtwork();

// Drawing helpers shared by the pictures.
// Scales every pixel of the picture by the coverage picture's grey level
// (or by its inverse), so that the picture is black where nothing covers it.
void KeepWhereCovered(QImage& picture, const QImage& coverage, bool inverse = false);
// A chequered flag of cols x rows squares, light and dark alternating.
void DrawChequers(QPainter& painter, QPointF origin, int cols, int rows, double size, const QColor& light,
                  const QColor& dark);

// The program's icon for the desktop: the SVG, a picture of it at one size,
// and the hicolor theme's files, "scalable/apps/NAME.svg" and
// "SIZExSIZE/apps/NAME.png" for every size of IconSizes, under `folder`.
// False on failure, with the file that could not be written in `failed`.
inline constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
QByteArray IconSvg();
QImage RenderIcon(const QByteArray& svg, int size);
bool WriteIconTheme(const QString& folder, const QString& name, QString* failed);

// Writes the picture as an uncompressed 24-bit bitmap file. False on failure.
bool SaveBitmap24(const QImage& image, const QString& path);

}  // namespace gs::art
