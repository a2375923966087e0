#pragma once

#include "records/ManagedService.h"

#include <QString>

#include <optional>

// What the service editor sheet is open for: a new service, or one service.
struct ServiceEditorMode {
    // None in create mode.
    std::optional<ManagedService> service;

    static ServiceEditorMode create() { return {}; }
    static ServiceEditorMode edit(ManagedService service) { return ServiceEditorMode {std::move(service)}; }

    bool isCreate() const { return !service.has_value(); }
    // "create", or the edited service's upper-case UUID.
    QString id() const;

    friend bool operator==(const ServiceEditorMode &, const ServiceEditorMode &) = default;
};
