#pragma once

#include "transfer/TransferServices.h"

namespace velmora::test {

// Transfer settings for tests that are not about files: a folder of their choosing, incoming
// offers refused unless they say otherwise.
class FixedTransferSettings : public TransferSettings {
public:
    explicit FixedTransferSettings(QString folder = {}, bool block = true)
        : m_folder(std::move(folder)), m_block(block) {}

    QString incomingFolder() const override { return m_folder; }
    void setIncomingFolder(const QString& folder) override { m_folder = folder; }
    QString defaultIncomingFolder() const override { return m_folder; }
    bool blockIncoming() const override { return m_block; }
    bool internalLoop() const override { return false; }
    int blockSizeCode() const override { return 5; }

private:
    QString m_folder;
    bool m_block;
};

}  // namespace velmora::test
