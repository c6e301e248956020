#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QIODevice;

// Reads one request as its bytes arrive and judges its password as soon as the password field
// is in (sooner when it is longer than any password field can be). Until then it holds no more than
// the size and the password, so a client that does not know the password costs a few bytes, not the
// message it announces.
class RequestReader
{
public:
    enum Status { NeedMore, Complete, SizeRefused, Malformed, WrongPassword };

    // password: the server's own password text; a null and an empty text count as equal.
    // Without one (it cannot be read) every password field is wrong.
    explicit RequestReader(const std::optional<QString> &password,
                           qint64 maxSize = Protocol::MaxRequestSize);

    Status read(QIODevice *device, Protocol::Message *message);
    // A byte of the request has been taken from the device.
    bool started() const { return m_stage != Stage::Size || !m_buffer.isEmpty(); }

private:
    enum class Stage { Size, PasswordLength, PasswordText, Rest };
    Status readOn(QIODevice *device, Protocol::Message *message);
    // Adds the device's bytes to the buffer until it holds count; true once it does.
    bool take(QIODevice *device, qint64 count);

    QString m_password;
    bool m_refuseAll = false;
    QByteArray m_expected; // the password as it travels: UTF-16, big-endian
    qint64 m_maxSize;
    Stage m_stage = Stage::Size;
    qint64 m_size = -1;
    bool m_nullPassword = false;
    qint64 m_passwordBytes = 0;
    QByteArray m_buffer;
    Status m_refused = NeedMore; // a refusal is final
};
