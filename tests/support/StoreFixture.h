#pragma once

#include "model/ModelContainer.h"

#include <QDebug>
#include <memory>

// Opens the store at path as its owner; null, with a warning naming why, when it cannot.
inline std::unique_ptr<ModelContainer> openStoreOrFail(const QString &path)
{
    QString error;
    auto container = ModelContainer::open(path, &error);
    if (!container)
        qWarning() << "open failed:" << error;
    return container;
}
