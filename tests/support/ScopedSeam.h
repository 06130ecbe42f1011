#pragma once
// Sets a test seam of the program for one scope and puts the real behaviour back afterwards,
// as ScopedEnv does for a variable: the seams are set through a function whose empty argument
// restores the real one (SetClockForTests, SetResolverForTests, SetMessageBoxHookForTests, ...).

#include <type_traits>
#include <utility>

namespace testing_support {

template <class Seam> class ScopedSeam {
public:
    using Setter = void (*)(Seam);

    template <class Replacement> ScopedSeam(Setter set, Replacement&& replacement) : set_(set) {
        set_(std::forward<Replacement>(replacement));
    }
    ~ScopedSeam() { set_(std::remove_cvref_t<Seam>{}); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

private:
    Setter set_;
};

template <class Seam, class Replacement>
ScopedSeam(void (*)(Seam), Replacement&&) -> ScopedSeam<Seam>;

} // namespace testing_support
