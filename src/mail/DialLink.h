// What the socket needs of a dial-up component: bring the line up before a connection and let
// it go after. The dial-up component implements it; the socket only holds a reference.
#pragma once

namespace pw {

class IDialLink {
public:
    // Dials when needed; raises when the line cannot be brought up.
    virtual void Connect() = 0;
    // Hangs up a line that this component dialled; nothing otherwise.
    virtual void Cancel() = 0;

protected:
    ~IDialLink() = default;
};

} // namespace pw
