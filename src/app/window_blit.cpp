#include "window_blit.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <bit>
#include <cstdlib>

namespace plumo {

namespace {

xcb_connection_t* X11Connection() {
  if (qGuiApp == nullptr) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

// The server's description of visual, or null.
const xcb_visualtype_t* FindVisual(const xcb_setup_t* setup, xcb_visualid_t visual) {
  for (xcb_screen_iterator_t s = xcb_setup_roots_iterator(setup); s.rem != 0; xcb_screen_next(&s))
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(s.data); d.rem != 0; xcb_depth_next(&d))
      for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem != 0; xcb_visualtype_next(&v))
        if (v.data->visual_id == visual) return v.data;
  return nullptr;
}

// Whether images of depth travel as 32 bits a pixel, rows padded to 32 bits.
bool ThirtyTwoBitPixels(const xcb_setup_t* setup, uint8_t depth) {
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem != 0; xcb_format_next(&f))
    if (f.data->depth == depth) return f.data->bits_per_pixel == 32 && f.data->scanline_pad == 32;
  return false;
}

}  // namespace

TWindowBlit::~TWindowBlit() { FreeGc(); }

void TWindowBlit::FreeGc() {
  // The connection goes with the application; a GC left at its end goes with the connection.
  if (FGc != 0 && FConnection != nullptr && FConnection == X11Connection()) xcb_free_gc(FConnection, FGc);
  FGc = 0;
  FGcDepth = 0;
}

bool TWindowBlit::Usable(uint32_t id) {
  if (id == FWindow) return FUsable;
  FWindow = id;
  FUsable = false;
  // Both questions go out before either answer is awaited: one round trip.
  const xcb_get_geometry_cookie_t geometry_cookie = xcb_get_geometry(FConnection, id);
  const xcb_get_window_attributes_cookie_t attributes_cookie = xcb_get_window_attributes(FConnection, id);
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(FConnection, geometry_cookie, nullptr);
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(FConnection, attributes_cookie, nullptr);
  if (geometry != nullptr && attributes != nullptr) {
    const xcb_setup_t* setup = xcb_get_setup(FConnection);
    const xcb_visualtype_t* visual = FindVisual(setup, attributes->visual);
    FDepth = geometry->depth;
    FUsable = (FDepth == 24 || FDepth == 32) && std::endian::native == std::endian::little &&
              setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && ThirtyTwoBitPixels(setup, FDepth) &&
              visual != nullptr &&
              (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR || visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR) &&
              visual->red_mask == 0xFF0000 && visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF;
  }
  std::free(geometry);  // xcb hands its replies over with malloc
  std::free(attributes);
  // Known to the connection since it was set up; asked here once, as it takes xcb's lock.
  if (FUsable && FMaxRequest == 0) FMaxRequest = xcb_get_maximum_request_length(FConnection);
  if (FUsable && FGcDepth != FDepth) {
    FreeGc();
    FGc = xcb_generate_id(FConnection);
    const uint32_t no_exposures = 0;
    xcb_create_gc(FConnection, FGc, id, XCB_GC_GRAPHICS_EXPOSURES, &no_exposures);
    FGcDepth = FDepth;
  }
  return FUsable;
}

bool TWindowBlit::Put(const QWidget& window, QPoint at, const QImage& image, QRect rect) {
  rect &= image.rect();
  if (rect.isEmpty()) return true;
  const QWindow* handle = window.windowHandle();
  const auto id = static_cast<uint32_t>(window.internalWinId());
  if (handle == nullptr || id == 0 || handle->devicePixelRatio() != image.devicePixelRatio()) return false;
  if (image.format() != QImage::Format_RGB32) return false;
  if (FConnection == nullptr) FConnection = X11Connection();
  if (FConnection == nullptr || !Usable(id)) return false;

  // The request: its fixed part and the rows one after another.
  const size_t pixels = static_cast<size_t>(rect.width()) * static_cast<size_t>(rect.height());
  const uint64_t request_units = (24 + pixels * 4) / 4;
  if (request_units > FMaxRequest) return false;
  FRows.resize(pixels);
  QRgb* row = FRows.data();
  for (int y = rect.top(); y <= rect.bottom(); ++y, row += rect.width()) {
    const auto* source = reinterpret_cast<const QRgb*>(image.constScanLine(y)) + rect.x();
    std::copy_n(source, rect.width(), row);
  }
  xcb_put_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, id, FGc, static_cast<uint16_t>(rect.width()),
                static_cast<uint16_t>(rect.height()), static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 0,
                FDepth, static_cast<uint32_t>(pixels * 4), reinterpret_cast<const uint8_t*>(FRows.data()));
  xcb_flush(FConnection);
  return true;
}

}  // namespace plumo
