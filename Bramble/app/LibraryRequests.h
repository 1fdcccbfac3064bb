#pragma once

#include "app/InstanceProtocol.h"
#include "exchange/DataExchange.h"
#include "model/LinkAdder.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <functional>

class BookmarkGroup;
class BookmarkItem;
class ModelContext;

// The requests another process may hand to the holder of the library, carried out through the
// same core code as the window's own commands, and the texts the command line prints for them.
namespace LibraryRequests {

using Message = InstanceProtocol::Message;
// Starts fetching the metadata of a link just added; each holder does it its own way.
using FetchStarter = std::function<void(BookmarkItem *link)>;

Message addRequest(const QString &text, const std::optional<QString> &groupName, bool allowDuplicate = false);
// Without refresh the holder stores and queues the links but does not fetch them.
Message importRequest(const QString &absolutePath, bool refresh = true, const ImportOptions &options = {});
Message refreshRequest(const std::optional<QString> &groupName, bool all);

// Adds the request's link as the add alert does; the answer names the address and group.
Message add(ModelContext *context, const Message &request, const FetchStarter &startFetch);
// Imports the request's file as the settings window does.
QCoro::Task<Message> import(DataExchange *exchange, Message request);

// Puts the request's links on the refresh queue and works it; the answer says how many were
// queued and how many wait now.
Message refresh(DataExchange *exchange, ModelContext *context, const Message &request);
// The first group of that name in sidebar order, or null.
BookmarkGroup *groupNamed(ModelContext *context, const QString &name);

// "已在「工作」中" when the library holds the address already and the text would be added (a
// web address, into a group that exists).
QString duplicateNotice(ModelContext *context, const QString &text, const std::optional<QString> &groupName);
// The line after the notice when a duplicate was not added.
QString duplicateRefusal();

// Why text was not added, for the command line; empty when it was.
QString addFailure(const LinkAdder::Outcome &outcome, const QString &text);

// Links still waiting for their metadata, by identifier, as a holder hands them on.
Message pendingToMessage(const QList<DataExchange::RefreshTarget> &targets);
QList<DataExchange::RefreshTarget> pendingFromMessage(ModelContext *context, const Message &answer);

} // namespace LibraryRequests
