#pragma once

#include "app/InstanceProtocol.h"

#include <QCoroTask>
#include <QString>
#include <chrono>

// Sends one request to the process that holds a library and waits for its answer, without
// blocking the event loop.
namespace InstanceClient {

enum class Outcome {
    Answered,
    // Nobody listens (the holder is starting, gone, or does not answer requests): the request
    // did not arrive and may be sent again.
    NotDelivered,
    // The request went out but no answer came in time or the holder went away: it may have
    // been carried out.
    NoAnswer,
};

struct Reply
{
    Outcome outcome = Outcome::NotDelivered;
    InstanceProtocol::Message answer;
};

// answerTimeout below zero waits as long as the connection lasts.
QCoro::Task<Reply> send(QString serverName, InstanceProtocol::Message request,
    std::chrono::milliseconds connectTimeout, std::chrono::milliseconds answerTimeout);

} // namespace InstanceClient
