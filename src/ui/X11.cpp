#include "ui/X11.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>

namespace X11 {

static_assert(kCardinal == XCB_ATOM_CARDINAL && kWmHints == XCB_ATOM_WM_HINTS);

namespace {

// Found once per application object: the overlay asks five times a second.
xcb_connection_t* Connection() {
  static const QGuiApplication* asked = nullptr;
  static xcb_connection_t* connection = nullptr;
  if (asked != qGuiApp) {
    asked = qGuiApp;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Other platforms (offscreen among them) may answer the interface without a connection.
    connection = x11 && QGuiApplication::platformName() == QLatin1String("xcb") ? x11->connection()
                                                                                : nullptr;
  }
  return connection;
}

xcb_window_t Root(xcb_connection_t* connection) {
  return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

xcb_window_t Id(const QWindow* window) {
  return static_cast<xcb_window_t>(window->winId());
}

// Replies are the caller's to free.
template <typename Reply>
std::unique_ptr<Reply, decltype(&std::free)> Owned(Reply* reply) {
  return {reply, &std::free};
}

}  // namespace

bool Available() {
  return Connection() != nullptr;
}

Atom Intern(const char* name) {
  xcb_connection_t* connection = Connection();
  if (!connection) return XCB_ATOM_NONE;
  // Atoms belong to the server, which keeps them as long as it runs.
  static std::map<std::string, Atom> interned;
  if (const auto known = interned.find(name); known != interned.end()) return known->second;
  const auto reply = Owned(xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  if (!reply) return XCB_ATOM_NONE;
  return interned[name] = reply->atom;
}

std::optional<std::vector<std::uint32_t>> Property32(const QWindow* window, Atom property,
                                                     Atom type, std::uint32_t count) {
  xcb_connection_t* connection = Connection();
  if (!connection || property == XCB_ATOM_NONE) return std::nullopt;
  const auto reply = Owned(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, Id(window), property, type, 0, count), nullptr));
  if (!reply || reply->format != 32 || reply->type != type) return std::nullopt;
  const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get()) / 4;
  return std::vector<std::uint32_t>(items, items + std::min<int>(length, count));
}

void Set_Property(const QWindow* window, Atom property, Atom type, int format, std::uint32_t count,
                  const void* data) {
  xcb_connection_t* connection = Connection();
  if (!connection || property == XCB_ATOM_NONE || type == XCB_ATOM_NONE) return;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, Id(window), property, type,
                      static_cast<std::uint8_t>(format), count, data);
  xcb_flush(connection);
}

bool Selection_Owned(const char* selection) {
  xcb_connection_t* connection = Connection();
  const Atom atom = Intern(selection);
  if (!connection || atom == XCB_ATOM_NONE) return false;
  const auto owner = Owned(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, atom), nullptr));
  return owner && owner->owner != XCB_NONE;
}

bool Left_Button_Held() {
  xcb_connection_t* connection = Connection();
  if (!connection) return false;
  const auto pointer = Owned(xcb_query_pointer_reply(
      connection, xcb_query_pointer(connection, Root(connection)), nullptr));
  return pointer && (pointer->mask & XCB_BUTTON_MASK_1);
}

void Withdraw(const QWindow* window) {
  xcb_connection_t* connection = Connection();
  if (!connection) return;
  const xcb_window_t root = Root(connection);
  xcb_unmap_window(connection, Id(window));
  xcb_unmap_notify_event_t event{};
  event.response_type = XCB_UNMAP_NOTIFY;
  event.event = root;
  event.window = Id(window);
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection);
}

bool Can_Put_Picture(const QWindow* window) {
  xcb_connection_t* connection = Connection();
  if (!connection || Q_BYTE_ORDER != Q_LITTLE_ENDIAN) return false;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  const auto geometry =
      Owned(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, Id(window)), nullptr));
  if (!geometry || geometry->depth != 24) return false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
    if (f.data->depth == geometry->depth)
      return f.data->bits_per_pixel == 32 && f.data->scanline_pad == 32;
  return false;
}

bool Put_Picture(const QWindow* window, const QImage& picture, const QRegion& parts) {
  xcb_connection_t* connection = Connection();
  if (!connection || picture.format() != QImage::Format_RGB32) return false;
  // One graphics context serves every window of that depth: the put uses none of its settings
  // but the plane mask, all planes. The longest request, in 4-byte units, is the server's.
  static xcb_connection_t* owner = nullptr;
  static xcb_gcontext_t context = 0;
  static std::size_t longest = 0;
  if (owner != connection) {
    owner = connection;
    context = xcb_generate_id(connection);
    xcb_create_gc(connection, context, Id(window), 0, nullptr);
    longest = std::size_t{xcb_get_maximum_request_length(connection)} * 4;
  }
  static std::vector<std::uint8_t> data;
  for (const QRect& part : parts) {
    const QRect area = part & picture.rect();
    if (area.isEmpty()) continue;
    const std::size_t row = static_cast<std::size_t>(area.width()) * 4;
    const std::size_t bytes = row * area.height();
    if (bytes + sizeof(xcb_put_image_request_t) > longest) return false;
    data.resize(bytes);
    for (int y = 0; y < area.height(); ++y)
      std::memcpy(data.data() + y * row, picture.constScanLine(area.top() + y) + area.left() * 4,
                  row);
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, Id(window), context, area.width(),
                  area.height(), static_cast<std::int16_t>(area.left()),
                  static_cast<std::int16_t>(area.top()), 0, 24, static_cast<std::uint32_t>(bytes),
                  data.data());
  }
  xcb_flush(connection);
  return true;
}

QImage Root_Picture(QScreen* screen, const QRect& area, QSize size) {
  if (!screen) return {};
  // Window 0 is the root window: the screen as the windows on it make it up.
  QImage shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .toImage()
                    .convertToFormat(QImage::Format_RGB32);
  // A scaled screen gives more device pixels than the window has.
  if (!shot.isNull() && shot.size() != size) shot = shot.scaled(size);
  return shot;
}

}  // namespace X11
