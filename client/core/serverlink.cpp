#include "serverlink.h"

#include <QCoreApplication>

namespace {
// Changes to a network account must reach the server first; until this client can send them,
// it stores none, so the copy never drifts from the server's.
ServerLink::Result notYet()
{
    return {false, QCoreApplication::translate("ServerLink", "网络帐户"),
            QCoreApplication::translate(
                "ServerLink", "暂不能将更改发送到服务器, 网络帐户中的联系人未作任何修改。")};
}
} // namespace

ServerLink::Result ServerLink::checkRevision()
{
    return notYet();
}

ServerLink::Result ServerLink::addContact(const Contact &)
{
    return notYet();
}

ServerLink::Result ServerLink::editContact(const Contact &)
{
    return notYet();
}

ServerLink::Result ServerLink::deleteContact(const QString &, const QString &)
{
    return notYet();
}
