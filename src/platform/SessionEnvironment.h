#pragma once

#include <QByteArray>
#include <QList>

// The environment the session gave Velmora, which every process it starts
// gets: its own, less what the start changed in it for Velmora's own sake
// (a display no library inside may reach for, the window platform chosen).
namespace SessionEnvironment {

// Takes `name` out of this process's environment and keeps its entry for the
// processes it starts. Only while no other thread reads the environment.
void setAside(const char *name);

// Sets `name` for this process alone: the processes it starts get what the
// session gave (nothing, where it gave none). The same thread rule.
void setForThisProcess(const char *name, const QByteArray &value);

// "KEY=VALUE" entries, byte for byte: this process's environment, with each
// name the start changed as the session gave it.
QList<QByteArray> entries();

} // namespace SessionEnvironment
