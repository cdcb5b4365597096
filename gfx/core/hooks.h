#pragma once

// The operation slots through which every drawing call reaches the surface. DefaultHooks fills
// them with the defaults; choosing a mode installs the window versions of the pixel, run, shape,
// palette, page and text slots. Only the program's thread reads or writes them.

#include <cstdint>
#include <optional>
#include <string_view>

#include "gfx/core/backing_image.h"

namespace gfx {

// Absolute surface coordinates, CurrentColor, the write mode; no viewport clipping.
using DirectPutPixelProc = void (*)(std::int16_t x, std::int16_t y);
// Viewport coordinates, the given colour, copy mode; clipped when ClipPixels is on.
using PutPixelProc = void (*)(std::int16_t x, std::int16_t y, std::uint16_t color);
using GetPixelProc = std::uint16_t (*)(std::int16_t x, std::int16_t y);
using SetRGBPaletteProc = void (*)(std::int16_t index, std::int16_t red, std::int16_t green,
                                   std::int16_t blue);
using GetRGBPaletteProc = void (*)(std::int16_t index, std::int16_t& red, std::int16_t& green,
                                   std::int16_t& blue);
// A palette of count entries, each three bytes red, green, blue.
using SetAllPaletteProc = void (*)(const std::uint8_t* rgb, int count);
using SetPageProc = void (*)(std::uint16_t page);
using ClearViewPortProc = void (*)();
// Images: two 16-bit words width−1 and height−1, then one 16-bit colour number per pixel.
using PutImageProc = void (*)(std::int16_t x, std::int16_t y, const std::uint16_t* image,
                              std::int16_t writeMode);
using GetImageProc = void (*)(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                              std::uint16_t* image);
// Size in 16-bit words of the image of that rectangle.
using ImageSizeProc = std::uint32_t (*)(std::int16_t x1, std::int16_t y1, std::int16_t x2,
                                        std::int16_t y2);
using GetScanLineProc = void (*)(std::int16_t x1, std::int16_t x2, std::int16_t y,
                                 std::uint16_t* colors);
using LineProc = void (*)(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
// Viewport coordinates; runs in CurrentColor (HLine, VLine) or the fill pattern (PatternLine).
using PatternLineProc = void (*)(std::int16_t x1, std::int16_t x2, std::int16_t y);
using HLineProc = void (*)(std::int16_t x1, std::int16_t x2, std::int16_t y);
using VLineProc = void (*)(std::int16_t x, std::int16_t y1, std::int16_t y2);
// Angles in degrees; the run operation fills between the outline points of each row.
using InternalEllipseProc = void (*)(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                                     std::uint16_t yRadius, std::uint16_t startAngle,
                                     std::uint16_t endAngle, PatternLineProc run);
using OutTextXYProc = void (*)(std::int16_t x, std::int16_t y, std::string_view text);
using CircleProc = void (*)(std::int16_t x, std::int16_t y, std::uint16_t radius);

struct Hooks {
  DirectPutPixelProc DirectPutPixel;
  PutPixelProc PutPixel;
  GetPixelProc GetPixel;
  SetRGBPaletteProc SetRGBPalette;
  GetRGBPaletteProc GetRGBPalette;
  SetAllPaletteProc SetAllPalette;
  SetPageProc SetActivePage;
  SetPageProc SetVisualPage;
  ClearViewPortProc ClearViewPort;
  PutImageProc PutImage;
  GetImageProc GetImage;
  ImageSizeProc ImageSize;
  GetScanLineProc GetScanLine;
  LineProc Line;
  InternalEllipseProc InternalEllipse;
  PatternLineProc PatternLine;
  HLineProc HLine;
  VLineProc VLine;
  OutTextXYProc OutTextXY;
  CircleProc Circle;
};

Hooks& Ops();
// Puts every slot back to its default: the pixel and palette slots report drawing outside
// graphics mode; the others are the generic routines built on the pixel and run slots.
void DefaultHooks();
// The slots every mode of this layer installs (window versions). The text slot's comes from the
// text part, which the core cannot name: the build of the layer hands it over (LayerBuild).
void InstallWindowHooks(OutTextXYProc windowOutTextXY);

// The generic routines, for the defaults and for tests that wrap a slot.
void GenericLine(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
void GenericPatternLine(std::int16_t x1, std::int16_t x2, std::int16_t y);
void GenericClearViewPort();
void GenericInternalEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                            std::uint16_t yRadius, std::uint16_t startAngle, std::uint16_t endAngle,
                            PatternLineProc run);
void GenericCircle(std::int16_t x, std::int16_t y, std::uint16_t radius);
// Runs pixel by pixel through DirectPutPixel.
void GenericHLine(std::int16_t x1, std::int16_t x2, std::int16_t y);
void GenericVLine(std::int16_t x, std::int16_t y1, std::int16_t y2);
// Images pixel by pixel through GetPixel and the run slots.
void GenericPutImage(std::int16_t x, std::int16_t y, const std::uint16_t* image,
                     std::int16_t writeMode);
void GenericGetImage(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                     std::uint16_t* image);
std::uint32_t GenericImageSize(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
void GenericGetScanLine(std::int16_t x1, std::int16_t x2, std::int16_t y, std::uint16_t* colors);

// Window versions of the pixel and run slots.
void WindowDirectPutPixel(std::int16_t x, std::int16_t y);
void WindowPutPixel(std::int16_t x, std::int16_t y, std::uint16_t color);
std::uint16_t WindowGetPixel(std::int16_t x, std::int16_t y);
void WindowHLine(std::int16_t x1, std::int16_t x2, std::int16_t y);
void WindowVLine(std::int16_t x, std::int16_t y1, std::int16_t y2);
void WindowPatternLine(std::int16_t x1, std::int16_t x2, std::int16_t y);
// The window's fast shapes: what the generic routines write over the window's pixel and run
// slots, pixel for pixel, under one hold of the drawing lock instead of one per pixel or run.
// Like every slot they stand on their own: a client that replaces a pixel or run slot and wants
// the shapes drawn through it puts the generic routine in the shape's slot too. The ellipse
// fills in one pass with the window's own fill run (FillEllipse passes the PatternLine slot),
// and sends any other run it is handed (a client's) through the generic routine.
void WindowInternalEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                           std::uint16_t yRadius, std::uint16_t startAngle, std::uint16_t endAngle,
                           PatternLineProc run);
void WindowClearViewPort();
void WindowPutImage(std::int16_t x, std::int16_t y, const std::uint16_t* image,
                    std::int16_t writeMode);
// Window versions of the palette slots (palette.cpp).
void WindowSetRGBPalette(std::int16_t index, std::int16_t red, std::int16_t green,
                         std::int16_t blue);
void WindowGetRGBPalette(std::int16_t index, std::int16_t& red, std::int16_t& green,
                         std::int16_t& blue);

// While one lives and the run slots are the window's own, the lines drawn by the generic Line
// routine go to the writers under its one hold of the drawing lock, instead of one slot call and
// one hold per run; pixel for pixel the same. A batch made while another lives joins it. Only for
// shapes that call no other slot meanwhile (a client's Line slot might, and deadlock on the
// lock). Program thread only.
class LineBatch {
 public:
  LineBatch();
  ~LineBatch();
  LineBatch(const LineBatch&) = delete;
  LineBatch& operator=(const LineBatch&) = delete;
  // The batch in force, or nullptr: the runs go through the slots.
  static LineBatch* Active();
  // Runs and blocks in viewport coordinates, drawn as the run slots would draw them.
  void Row(int x1, int x2, int y);
  void Column(int x, int y1, int y2);
  // Every pixel of the block once: a solid axis-aligned thick line.
  void Block(int x1, int y1, int x2, int y2);

 private:
  std::optional<DrawingHold> hold_;
  bool drawable_ = false;
  Rect changed_;
};

// The 8-row fill pattern of a pattern number 0..12 (12 is the user pattern).
const std::uint8_t* FillPatternRows(std::uint16_t pattern);

}  // namespace gfx
