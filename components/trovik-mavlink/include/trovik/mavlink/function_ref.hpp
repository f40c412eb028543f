#pragma once
// A borrowed callable: what the frame reader and the stream parser call back
// through (a seed lookup, a sink for completed frames) without a template
// per caller or an allocation per call. It refers to the callable; the
// callable must outlive it, as a lambda passed straight to a call does.
#include <type_traits>
#include <utility>

namespace trovik::mavlink {

template <class Signature>
class FunctionRef;

template <class R, class... A>
class FunctionRef<R(A...)> {
public:
    // A plain function.
    FunctionRef(R (*fn)(A...)) noexcept : target_{.fn = fn}, call_(&call_function) {}

    // Any other callable, borrowed.
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && !std::is_function_v<std::remove_cvref_t<F>> &&
                 std::is_invocable_r_v<R, const std::remove_reference_t<F>&, A...>)
    FunctionRef(F&& f) noexcept
        : target_{.object = std::addressof(f)}, call_(&call_object<std::remove_reference_t<F>>) {}

    R operator()(A... args) const { return call_(target_, std::forward<A>(args)...); }

private:
    union Target {
        const void* object;
        R (*fn)(A...);
    };

    static R call_function(Target t, A... args) { return t.fn(std::forward<A>(args)...); }
    template <class F>
    static R call_object(Target t, A... args) {
        return (*static_cast<const F*>(t.object))(std::forward<A>(args)...);
    }

    Target target_;
    R (*call_)(Target, A...);
};

}  // namespace trovik::mavlink
