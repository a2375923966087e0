#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLatin1String>
#include <QWidget>

// A self-drawn button as assistive technologies see it: a button they can
// press like any push button. Subclasses add the states the widget draws.
class PressableAccessible : public QAccessibleWidget {
public:
    explicit PressableAccessible(QWidget *button, QAccessible::Role role = QAccessible::Button);
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
};

// Makes Interface the accessible interface of every Widget (a Q_OBJECT class),
// installing the factory once per process. Call from Widget's constructor,
// before anything there (a name, a title) asks for its interface.
template <typename Widget, typename Interface>
void useAccessibleInterface()
{
    static const bool installed = [] {
        QAccessible::installFactory([](const QString &className, QObject *object) -> QAccessibleInterface * {
            if (object && object->isWidgetType() && className == QLatin1String(Widget::staticMetaObject.className()))
                return new Interface(static_cast<QWidget *>(object));
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(installed);
}
