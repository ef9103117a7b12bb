#include "platform/notify_icons/dbus_menu.h"

#include <QTimer>
#include <utility>

namespace platform {

namespace {

// "&Restore" becomes "_Restore": the menu protocol marks mnemonics with '_'.
QString MenuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&' && i + 1 < text.size()) {
            label += text[++i] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i];
        } else {
            label += c == u'_' ? QStringLiteral("__") : QString(c);
        }
    }
    return label;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(std::vector<SniMenuEntry> entries,
                                   std::function<void(int)> onChoice)
    : entries_(std::move(entries)), onChoice_(std::move(onChoice)) {}

bool DBusMenuExporter::Exists(int id) const {
    return id >= 0 && static_cast<std::size_t>(id) <= entries_.size();
}

QVariantMap DBusMenuExporter::Properties(int id, const QStringList& names) const {
    QVariantMap all;
    if (id == 0) {
        all[QStringLiteral("children-display")] = QStringLiteral("submenu");
    } else if (Exists(id)) {
        const SniMenuEntry& entry = entries_[static_cast<std::size_t>(id - 1)];
        all[QStringLiteral("label")] = MenuLabel(entry.text);
        all[QStringLiteral("enabled")] = entry.enabled;
        all[QStringLiteral("visible")] = true;
        all[QStringLiteral("type")] = QStringLiteral("standard");
    }
    if (names.isEmpty()) {
        return all;
    }
    QVariantMap wanted;
    for (const QString& name : names) {
        if (all.contains(name)) {
            wanted[name] = all[name];
        }
    }
    return wanted;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    layout = {parentId, Properties(parentId, propertyNames), {}};
    if (parentId == 0 && recursionDepth != 0) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const int id = static_cast<int>(i) + 1;
            layout.children << DBusMenuLayoutItem{id, Properties(id, propertyNames), {}};
        }
    }
    return 1;  // the menu never changes: one revision
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    DBusMenuItemList items;
    for (int id : ids) {
        if (Exists(id)) {
            items << DBusMenuItem{id, Properties(id, propertyNames)};
        }
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(Properties(id, {name}).value(name));
}

// The choice runs after the host has its reply: the command may delete the
// item that exports this menu.
bool DBusMenuExporter::Choose(int id, const QString& eventId) {
    if (id == 0 || !Exists(id)) {
        return id == 0;
    }
    const SniMenuEntry& entry = entries_[static_cast<std::size_t>(id - 1)];
    if (eventId == QStringLiteral("clicked") && entry.enabled) {
        QTimer::singleShot(0, this, [this, command = entry.command] { onChoice_(command); });
    }
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    Choose(id, eventId);
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> errors;
    for (const DBusMenuEvent& event : events) {
        if (!Choose(event.id, event.eventId)) {
            errors << event.id;
        }
    }
    return errors;
}

bool DBusMenuExporter::AboutToShow(int) {
    return false;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (!Exists(id)) {
            idErrors << id;
        }
    }
    return {};
}

}  // namespace platform
