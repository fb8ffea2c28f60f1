#ifndef FUNCTION_REF_H
#define FUNCTION_REF_H

#include <type_traits>
#include <utility>

// A reference to a callable for the length of one call: it neither copies
// nor owns the callable, so passing a lambda never allocates (a
// std::function does once the captures outgrow its small buffer, which a
// transaction's three references do). It must not outlive the callable.
template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)>
{
public:
    FunctionRef() = default;

    template <typename F, typename = std::enable_if_t<!std::is_same<std::decay_t<F>, FunctionRef>::value>>
    FunctionRef(F &&f) // implicit, like std::function
        : m_object(const_cast<void *>(static_cast<const void *>(&f))), m_call([](void *object, Args... args) -> R {
            return (*static_cast<std::remove_reference_t<F> *>(object))(std::forward<Args>(args)...);
        })
    {
    }

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }
    explicit operator bool() const { return m_call != nullptr; }

private:
    void *m_object = nullptr;
    R (*m_call)(void *, Args...) = nullptr;
};

#endif // FUNCTION_REF_H
