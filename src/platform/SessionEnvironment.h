#pragma once

#include <QByteArray>
#include <QList>

// The environment the session gave Velmora, which every process it starts
// gets: its own, plus the variables the start took out of it so that no
// library inside Velmora acts on them.
namespace SessionEnvironment {

// Takes `name` out of this process's environment and keeps its entry for the
// processes it starts. Only while no other thread reads the environment.
void setAside(const char *name);

// "KEY=VALUE" entries, byte for byte: this process's environment, then each
// entry set aside whose name it has not taken again since.
QList<QByteArray> entries();

} // namespace SessionEnvironment
