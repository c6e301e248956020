#include "contactlistmodel.h"
#include "testhome.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

namespace {

// "text:id" per row.
QStringList texts(const QList<ContactEntry> &entries)
{
    QStringList out;
    for (const ContactEntry &e : entries)
        out << e.text + QLatin1Char(':') + QString::number(e.id);
    return out;
}

// The rows as the view reads them.
QStringList texts(const ContactListModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex i = model.index(row);
        out << i.data().toString() + QLatin1Char(':') + i.data(ContactListModel::IdRole).toString();
    }
    return out;
}

} // namespace

class TestContactListModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<ContactListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

private slots:
    void init()
    {
        m_model = std::make_unique<ContactListModel>();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    // Random additions, renames and removals against a sorted list. Every row held by a
    // persistent index must still hold it afterwards: only then were the signals right.
    void randomChangesKeepOrderAndSignals()
    {
        QRandomGenerator rng(20240701);
        // Few texts, so that equal ones are common and go by id.
        const QStringList words{"Li Na", "Li Nb", "Li ", "li Na", "Wang ", "李 ", "😀 ", "ｚ "};
        QList<ContactEntry> expected;
        const auto place = [&](const ContactEntry &e) {
            return int(std::lower_bound(expected.cbegin(), expected.cend(), e, entryBefore) -
                       expected.cbegin());
        };
        const auto rowOf = [&](qint64 id) {
            for (int row = 0; row < expected.size(); ++row)
                if (expected.at(row).id == id)
                    return row;
            return -1;
        };
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        for (int step = 0; step < 400; ++step) {
            const QList<ContactEntry> before = expected;
            QList<QPersistentModelIndex> kept;
            for (int row = 0; row < m_model->rowCount(); ++row)
                kept << QPersistentModelIndex(m_model->index(row));
            const ContactEntry e{rng.bounded(1, 40), words.at(rng.bounded(int(words.size())))};
            const bool known = rowOf(e.id) >= 0;
            const int op = rng.bounded(3);
            if (op == 0 && !known) {
                expected.insert(place(e), e);
                QCOMPARE(m_model->addEntry(e).row(), place(e));
            } else if (op < 2) {
                const int changes = int(changed.size());
                const QModelIndex at = m_model->setText(e.id, e.text);
                QCOMPARE(at.isValid(), known);
                if (known) {
                    expected.removeIf([&](const ContactEntry &x) { return x.id == e.id; });
                    expected.insert(place(e), e);
                    QCOMPARE(at.row(), place(e));
                    QCOMPARE(qvariant_cast<QModelIndex>(changed.last().at(0)), at);
                }
                QCOMPARE(changed.size(), changes + (known ? 1 : 0));
            } else {
                const QList<qint64> gone =
                    QList<qint64>{e.id, rng.bounded(1, 40), rng.bounded(1, 40)}.mid(
                        0, rng.bounded(1, 4));
                m_model->removeIds(gone);
                expected.removeIf([&](const ContactEntry &x) { return gone.contains(x.id); });
            }
            QCOMPARE(texts(*m_model), texts(expected));
            for (int i = 0; i < kept.size(); ++i)
                QCOMPARE(kept.at(i).row(), rowOf(before.at(i).id)); // -1 once removed
        }
        QCOMPARE(reset.count(), 0);
    }

    // A whole list, or many scattered removals: one reset instead of a signal per row, so a
    // view of 100,000 rows stays fast. A block of neighbours goes in one signal.
    void bulkChangesResetOnce()
    {
        QList<ContactEntry> many;
        QList<qint64> odd, tail;
        for (int i = 0; i < 100; ++i) {
            many.append({i, QStringLiteral("N%1").arg(i, 3, 10, QLatin1Char('0'))});
            if (i >= 60)
                tail << i;
            else if (i % 2)
                odd << i;
        }
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        m_model->setEntries(many);
        m_model->removeIds(tail);
        m_model->removeIds(odd);
        QCOMPARE(reset.count(), 2);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(m_model->rowCount(), 30);
        QCOMPARE(m_model->entryAt(29).id, 58);
        // Nothing past either end, and screen readers hear the row's text.
        QCOMPARE(m_model->entryAt(30).id, -1);
        QCOMPARE(m_model->entryAt(-1).id, -1);
        QCOMPARE(m_model->rowOfId(1), -1);
        QCOMPARE(m_model->index(1).data(Qt::AccessibleTextRole), QVariant(QStringLiteral("N002")));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContactListModel)
#include "tst_contactlistmodel.moc"
