#pragma once

#include "profiles/EnvironmentProfile.h"

// What the profile editor sheet was opened for: a new profile, or the given
// one (decrypted, when it is protected).
struct ProfileEditorMode {
    enum class Kind { create, edit };

    Kind kind = Kind::create;
    EnvironmentProfile profile; // the edited profile; unused when creating

    static ProfileEditorMode create() { return {}; }
    static ProfileEditorMode edit(EnvironmentProfile profile) { return {Kind::edit, std::move(profile)}; }

    bool isEdit() const { return kind == Kind::edit; }

    friend bool operator==(const ProfileEditorMode &, const ProfileEditorMode &) = default;
};
