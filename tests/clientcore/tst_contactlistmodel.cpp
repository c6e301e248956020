#include "contactlistmodel.h"
#include "testhome.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace {

// "text:id" per row, in model order.
QStringList rows(const ContactListModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex i = model.index(row);
        out << i.data().toString() + QLatin1Char(':') +
                   QString::number(i.data(ContactListModel::IdRole).toLongLong());
    }
    return out;
}

QList<ContactEntry> sample()
{
    return {{3, QStringLiteral("Chen Bo")},
            {1, QStringLiteral("Li Na")},
            {4, QStringLiteral("Li Na")},
            {2, QStringLiteral("Wang ")},
            {5, QStringLiteral("Zhou Yu")}};
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
        m_model->setEntries(sample());
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    void setEntriesResetsOnce()
    {
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        m_model->setEntries({{7, QStringLiteral("Gao ")}, {8, QStringLiteral("Xu Lei")}});
        QCOMPARE(rows(*m_model), (QStringList{"Gao :7", "Xu Lei:8"}));
        m_model->clear();
        QCOMPARE(m_model->rowCount(), 0);
        QCOMPARE(reset.count(), 2);
        QCOMPARE(inserted.count(), 0);
    }

    void dataRoles()
    {
        const QModelIndex i = m_model->index(3);
        QCOMPARE(i.data(Qt::DisplayRole).toString(), QStringLiteral("Wang "));
        QCOMPARE(i.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Wang "));
        QCOMPARE(i.data(ContactListModel::IdRole).toLongLong(), 2);
        QCOMPARE(i.data(Qt::DecorationRole).metaType(), QMetaType::fromType<QIcon>());
        QVERIFY(!i.data(Qt::ToolTipRole).isValid());
        QCOMPARE(m_model->rowOfId(4), 2);
        QCOMPARE(m_model->rowOfId(99), -1);
        QCOMPARE(m_model->entryAt(0), (ContactEntry{3, QStringLiteral("Chen Bo")}));
        QCOMPARE(m_model->entryAt(5).id, -1);
    }

    void addEntryAtItsPlace_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");
        QTest::newRow("first") << qint64(9) << QStringLiteral("An Qi") << 0;
        QTest::newRow("capital before small") << qint64(9) << QStringLiteral("Zhou yu") << 5;
        QTest::newRow("between equal texts by id") << qint64(3) << QStringLiteral("Li Na") << 2;
        QTest::newRow("last") << qint64(9) << QStringLiteral("李") << 5;
    }

    void addEntryAtItsPlace()
    {
        QFETCH(qint64, id);
        QFETCH(QString, text);
        QFETCH(int, row);
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        const QModelIndex at = m_model->addEntry({id, text});
        QCOMPARE(at.row(), row);
        QCOMPARE(at.data().toString(), text);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.first().at(1).toInt(), row);
        QCOMPARE(m_model->rowCount(), 6);
    }

    void setTextMovesTheRow_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("moves");
        QTest::newRow("down to the end")
            << qint64(3) << QStringLiteral("Zhu ")
            << QStringList{"Li Na:1", "Li Na:4", "Wang :2", "Zhou Yu:5", "Zhu :3"} << 1;
        QTest::newRow("up to the start")
            << qint64(5) << QStringLiteral("Bai ")
            << QStringList{"Bai :5", "Chen Bo:3", "Li Na:1", "Li Na:4", "Wang :2"} << 1;
        QTest::newRow("one step down")
            << qint64(1) << QStringLiteral("Li Nb")
            << QStringList{"Chen Bo:3", "Li Na:4", "Li Nb:1", "Wang :2", "Zhou Yu:5"} << 1;
        QTest::newRow("same place, new text")
            << qint64(2) << QStringLiteral("Wang Fang")
            << QStringList{"Chen Bo:3", "Li Na:1", "Li Na:4", "Wang Fang:2", "Zhou Yu:5"} << 0;
    }

    void setTextMovesTheRow()
    {
        QFETCH(qint64, id);
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QFETCH(int, moves);
        QSignalSpy moved(m_model.get(), &QAbstractItemModel::rowsMoved);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        const QModelIndex at = m_model->setText(id, text);
        QCOMPARE(rows(*m_model), expected);
        QCOMPARE(at.data().toString(), text);
        QCOMPARE(at.data(ContactListModel::IdRole).toLongLong(), id);
        QCOMPARE(moved.count(), moves);
        QCOMPARE(changed.count(), 1);
        QVERIFY(!m_model->setText(99, text).isValid());
    }

    void removeIds()
    {
        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        m_model->removeIds({4, 99, 1, 5});
        QCOMPARE(rows(*m_model), (QStringList{"Chen Bo:3", "Wang :2"}));
        QCOMPARE(removed.count(), 2); // rows 1 to 2, then row 4

        // Many scattered rows: one reset instead of a signal per row.
        QList<ContactEntry> many;
        QList<qint64> odd;
        for (int i = 0; i < 100; ++i) {
            many.append({i, QStringLiteral("N%1").arg(i, 3, 10, QLatin1Char('0'))});
            odd << 2 * i + 1;
        }
        m_model->setEntries(many);
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        m_model->removeIds(odd);
        QCOMPARE(m_model->rowCount(), 50);
        QCOMPARE(m_model->entryAt(49).id, 98);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(removed.count(), 2);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestContactListModel)
#include "tst_contactlistmodel.moc"
