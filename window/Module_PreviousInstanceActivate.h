// One qvue per user. The first qvue listens on a local socket of its own;
// a later qvue connects to it, asks it to bring its window to the front, and
// ends. Nothing else is looked at: no window titles, no process lists.
//
// The socket is $QVUE_INSTANCE_SOCKET when that is set (a full path, for
// tests), else $XDG_RUNTIME_DIR/qvue-instance, else /tmp/qvue-instance-UID.
// Only its owner may connect to it. A socket file left by a crash answers no
// one and is replaced; a file there that belongs to another user is never
// trusted: qvue then runs without the channel.
//
// Both functions need the QApplication to exist.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// The path of this user's channel.
QString InstanceSocketPath();

// True when another qvue of this user is running; it has then been asked to
// restore and raise its window, and this process should end without a window.
// When false, this process has taken the channel (later starts queue up until
// ListenForLaterInstances). Gives up on an unresponsive peer after about half
// a second.
bool ActivatePreviousInstance();

// Called once the window exists: listens for later starts and, when one
// arrives, restores `form` if minimised, shows, raises and activates it, then
// calls `on_activated` when given. Takes the channel itself when
// ActivatePreviousInstance did not.
void ListenForLaterInstances(QWidget* form, std::function<void()> on_activated = {});
