#pragma once

#include "app/InstanceProtocol.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>

class DataExchange;
class ModelContext;
class SingleInstance;

// A command that holds the library for its work answers the other processes meanwhile:
// commands hand it their links and imports (their metadata joins its queue), and a window that
// starts is given the library once the link in hand is done, with the links still waiting.
class CommandHost : public QObject
{
    Q_OBJECT

public:
    CommandHost(
        SingleInstance *instance, ModelContext *context, DataExchange *exchange, QObject *parent = nullptr);

    // Work that must end before the library is handed on: the command's own link, the records
    // of an import. Held while the object lives.
    class Busy
    {
    public:
        explicit Busy(CommandHost *host);
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        QPointer<CommandHost> m_host;
    };

    // Ends once nothing is busy and no link waits for metadata, or once a window has taken
    // the library (see handedOver()). Afterwards the host answers no more requests.
    QCoro::Task<> finish();
    bool handedOver() const { return m_handedOver; }
    // How many links the window took over still waiting for their metadata.
    int handedOverLinks() const { return m_handedOverLinks; }

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<InstanceProtocol::Message> release();
    bool refusesWork() const { return m_releasing || m_closing; }
    bool isIdle() const;

    ModelContext *m_context;
    DataExchange *m_exchange;
    int m_busy = 0;
    bool m_releasing = false;
    bool m_closing = false;
    bool m_handedOver = false;
    int m_handedOverLinks = 0;
};
