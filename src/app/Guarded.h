#pragma once
// Slots that never let an exception into Qt. Qt calls slots from inside its
// own event handling, which is not written to be unwound; a command that
// fails with an exception ends there, with a message in the main window, and
// the program goes on.
//
//   connect(button, &QPushButton::clicked, this, Guarded(main, this, &TFormX::ButtonOkClick));
//
// The slot may be a member function of owner or any callable; it is given
// as many of the signal's arguments as it takes, from the first.

#include <cstddef>
#include <exception>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

class TForm1;

// Shows the failure of a command in the main window (what may be nullptr
// for an exception that is not a std::exception).
void ReportFailedCommand(TForm1& main, const char* what);

namespace guarded_detail {

template <class Owner, class F, class Tuple, std::size_t... I>
constexpr bool Accepts(std::index_sequence<I...>) {
  if constexpr (std::is_member_function_pointer_v<F>)
    return std::is_invocable_v<F&, Owner*, std::tuple_element_t<I, Tuple>...>;
  else
    return std::is_invocable_v<F&, std::tuple_element_t<I, Tuple>...>;
}

template <std::size_t N, class Owner, class F, class Tuple>
void CallWithPrefix(Owner* owner, F& f, Tuple& args) {
  if constexpr (Accepts<Owner, F, Tuple>(std::make_index_sequence<N>{})) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      if constexpr (std::is_member_function_pointer_v<F>)
        std::invoke(f, owner, std::get<I>(args)...);
      else
        std::invoke(f, std::get<I>(args)...);
    }(std::make_index_sequence<N>{});
  } else {
    static_assert(N > 0, "the slot takes no prefix of the signal's arguments");
    if constexpr (N > 0) CallWithPrefix<N - 1>(owner, f, args);
  }
}

}  // namespace guarded_detail

template <class Owner, class F>
auto Guarded(TForm1& main, Owner* owner, F f) {
  return [&main, owner, f = std::move(f)](auto&&... signalArgs) mutable -> void {
    try {
      auto args = std::tie(signalArgs...);
      guarded_detail::CallWithPrefix<sizeof...(signalArgs)>(owner, f, args);
    } catch (const std::exception& e) {
      ReportFailedCommand(main, e.what());
    } catch (...) {
      ReportFailedCommand(main, nullptr);
    }
  };
}
