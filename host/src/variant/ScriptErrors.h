#pragma once

#include <stdexcept>
#include <string>

namespace FB {

// Base of every failure that is reported to the page as a script exception carrying its message.
class script_error : public std::runtime_error
{
public:
    explicit script_error(const std::string& message) : std::runtime_error(message) {}
};

// A call whose arguments are missing, too many or not convertible to the declared parameter types.
class invalid_arguments : public script_error
{
public:
    invalid_arguments() : script_error("Invalid Arguments") {}
    explicit invalid_arguments(const std::string& message) : script_error(message) {}
};

// A call or property access naming a member the object does not have; takes the member name, not a message.
class invalid_member : public script_error
{
public:
    explicit invalid_member(const std::string& memberName)
        : script_error("The specified member does not exist: " + memberName), _memberName(memberName)
    {}

    // The name the page asked for.
    const std::string& memberName() const noexcept { return _memberName; }

private:
    std::string _memberName;
};

// A call on a scriptable object after it was invalidated (the plug-in was removed from the page).
class object_invalidated : public script_error
{
public:
    object_invalidated() : script_error("This object is no longer valid") {}
    explicit object_invalidated(const std::string& message) : script_error(message) {}
};

} // namespace FB
