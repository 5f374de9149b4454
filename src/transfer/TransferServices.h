#pragma once

// What the transfers need from the program around them, passed in so that the engine runs the
// same in the window, in the headless peer and in tests.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace velmora {

// Sends one peer message to a participant through the session. Called on the UI thread, and on
// the sender thread for file blocks.
using PeerMessageSink = std::function<void(std::uint32_t destination, const QByteArray& message)>;

// The 318-byte ICO icon of a file (empty when there is none: the field is then zeros).
using FileIconSource = std::function<QByteArray(const QString& path)>;

// A 32-bit random number; the generator behind it is seeded once.
using RandomSource = std::function<std::uint32_t()>;

// Where the transfers report to the user. UI thread only.
class TransferNotices {
public:
    virtual ~TransferNotices() = default;
    // The status bar's panel about the other side's control of a transfer.
    virtual void showTransferStatus(const QString& text) = 0;
    // One line at the end of the conversation view.
    virtual void appendConversationLine(const QString& line) = 0;
    // A plain message box.
    virtual void showMessage(const QString& text) = 0;
};

// Values of the main window that the transfers read. UI thread only.
class TransferSettings {
public:
    virtual ~TransferSettings() = default;
    // The "Path" option: where incoming files go.
    virtual QString incomingFolder() const = 0;
    virtual void setIncomingFolder(const QString& folder) = 0;
    // Where incoming files go when the incoming folder does not exist; created when missing.
    virtual QString defaultIncomingFolder() const = 0;
    // Refuse every offer.
    virtual bool blockIncoming() const = 0;
    // The "InternalLoop" option: an offer is never refused for its identifier.
    virtual bool internalLoop() const = 0;
    // The block-size code 1..7 that the connect procedure set.
    virtual int blockSizeCode() const = 0;
};

}  // namespace velmora
