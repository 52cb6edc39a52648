// The program's error box: an exception that a slot or event handler does not handle itself is
// shown (title "Tarnwick", the exception's text) at that handler's edge, never thrown into Qt, and
// the program goes on.
#pragma once

#include <QApplication>
#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

class QWidget;

namespace tarnwick {

class Registry;

// Runs the work of a slot or event handler; an exception it throws is shown in the error box,
// owned by owner (the active window when null). False when one was shown.
bool ShowingErrors(const std::function<void()>& work, QWidget* owner = nullptr);

namespace detail {

// Calls slot with the first count of args, or fewer when it takes fewer, as connect() does.
template <size_t count, typename Slot, typename Args>
void CallWithLeading(Slot& slot, Args& args) {
  constexpr bool takes = []<size_t... i>(std::index_sequence<i...>) {
    return std::is_invocable_v<Slot&, std::tuple_element_t<i, Args>...>;
  }
  (std::make_index_sequence<count>{});
  if constexpr (takes) {
    [&]<size_t... i>(std::index_sequence<i...>) {
      std::invoke(slot, std::get<i>(args)...);
    }
    (std::make_index_sequence<count>{});
  } else if constexpr (count > 0) {
    CallWithLeading<count - 1>(slot, args);
  } else {
    static_assert(count > 0, "the slot takes arguments the signal does not give");
  }
}

}  // namespace detail

// connect() for the program's own slots: slot, a member function of receiver or any callable,
// runs through ShowingErrors.
template <typename Sender, typename Signal, typename Receiver, typename Slot>
QMetaObject::Connection ConnectShowingErrors(Sender* sender, Signal signal, Receiver* receiver,
                                             Slot slot) {
  auto call = [&] {
    if constexpr (std::is_member_function_pointer_v<Slot>) {
      return std::bind_front(slot, receiver);
    } else {
      return std::move(slot);
    }
  }();
  return QObject::connect(sender, signal, receiver, [call](auto&&... args) mutable {
    ShowingErrors([&] {
      auto all = std::forward_as_tuple(args...);
      detail::CallWithLeading<sizeof...(args)>(call, all);
    });
  });
}

// The program's application object. With a registry set, each event delivered is one action: its
// registry writes are gathered in one write batch, and each changed file is written once when the
// delivery returns, before the next event; a file that cannot be written is shown in the error
// box. Deliveries nested in it (the loop of a modal form) join its batch; every prompt writes what
// the batch holds so far before it is shown.
class TarnwickApplication : public QApplication {
  Q_OBJECT

 public:
  TarnwickApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // Null for none. The registry must outlive every delivery begun while it is set.
  void SetRegistry(Registry* registry) { registry_ = registry; }

  // Writes the changes the current action has made so far (Registry::WritePending).
  void WritePending();

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  Registry* registry_ = nullptr;
};

}  // namespace tarnwick
