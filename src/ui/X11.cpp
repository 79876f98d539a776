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

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  // Other platforms (offscreen among them) may answer the interface without a connection.
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
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
