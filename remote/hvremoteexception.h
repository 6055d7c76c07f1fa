// An error of the remote link, passed by pointer through the window's
// remoteError signal to be shown in a message box.
#pragma once

#include <QString>

class HvRemoteException {
public:
    explicit HvRemoteException(const QString& message) : message_(message) {}
    virtual ~HvRemoteException() = default;
    virtual QString message() const { return message_; }

private:
    QString message_;
};
