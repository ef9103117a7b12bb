// A tray icon's menu exported as a com.canonical.dbusmenu object, so that a
// D-Bus tray host shows it itself and reports the user's choice.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "platform/notify_icons/dbus_types.h"

namespace platform {

// A menu entry as the host shows it: its label with the program's '&'
// mnemonic, and the command it sends.
struct SniMenuEntry {
    QString text;
    int command = 0;
    bool enabled = true;
};

// The item's menu, exported for the host to show and to report choices to.
class DBusMenuExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
public:
    DBusMenuExporter(std::vector<SniMenuEntry> entries, std::function<void(int)> onChoice);

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::DBusMenuLayoutItem& layout);
    platform::DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                  const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const platform::DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const platform::DBusMenuItemList& updated,
                                const platform::DBusMenuItemKeysList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QVariantMap Properties(int id, const QStringList& names) const;
    bool Exists(int id) const;
    bool Choose(int id, const QString& eventId);

    std::vector<SniMenuEntry> entries_;  // item id = position + 1; 0 is the root
    std::function<void(int)> onChoice_;
};

}  // namespace platform
