#include "FirstHourWalk.h"

#include "app/MenuBarEnvironment.h"
#include "execution/ServiceManager.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRunHistoryManager.h"
#include "support/Await.h"
#include "support/Screenshots.h"

#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>

FirstHourWalk::~FirstHourWalk()
{
    // A failed step may leave services running: none outlives the test.
    if (app) {
        for (const auto &handle : app->serviceManager().launchedHandles())
            handle->signalProcessGroup(SIGKILL);
    }
    // A timeout in the shut-down must fail this test, not abort the program.
    try {
        shutDown();
    } catch (const std::exception &error) {
        ADD_FAILURE() << "shut-down failed: " << error.what();
    }
}

void FirstHourWalk::launch()
{
    AppEnvironment::PlatformLayers layers;
    layers.authenticator = authenticator;
    layers.keyProvider = keys;
    layers.secretStore = secrets;
    layers.terminalLauncher = terminal;
    layers.terminalFolderCleanup = &terminalCleanup;
    layers.gpuProbe = [] { return std::optional<double>(); };
    layers.lockClock = [this] { return lockNow; };
    app = std::make_unique<AppEnvironment>(AppEnvironment::buildStores(layers), false);
    app->serviceManager().setSudoPath(installFakeSudo());
    delegate = std::make_unique<AppDelegate>(*app);
    window = std::make_unique<MainWindow>(*app, *delegate);
    delegate->setQuitConfirmation([this] {
        window->bringToFront();
        return app->presentQuitConfirmation();
    });
    QObject::connect(delegate.get(), &AppDelegate::quitRequested, [this] { ++quits; });

    // The tray panel, wired as main() does: it asks the quit question once start-up is done.
    menuBar = std::make_unique<MenuBarController>();
    menuBar->setOpenMainWindow([this] { window->bringToFront(); });
    delegate->setClosePanel([this] { menuBar->closePanel(); });
    QObject::connect(window.get(), &MainWindow::bootstrapFinished, menuBar.get(), [this] {
        MenuBarEnvironment environment = MenuBarEnvironment::from(*app);
        environment.presentQuitConfirmation = [this] {
            window->bringToFront();
            return app->presentQuitConfirmation();
        };
        environment.requestQuit = [this] { delegate->quitWithoutConfirmation(); };
        menuBar->configure(std::move(environment));
        delegate->setQuitConfirmation([this] { return menuBar->requestQuitConfirmation(); });
    });
    window->show();
}

void FirstHourWalk::shutDown()
{
    menuBar.reset();
    window.reset();
    delegate.reset();
    if (app)
        await(app->runHistoryManager().waitForPendingWrites());
    app.reset();
}

QString FirstHourWalk::installFakeSudo() const
{
    // Like sudo -S -p PROMPT -v: shows the prompt, reads one line from its terminal, accepts it.
    QString path = sudoFolder.filePath(QStringLiteral("sudo"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the fake sudo");
    script.write("#!/bin/sh\nprompt=\nwhile [ $# -gt 0 ]; do\n"
                 "  case \"$1\" in -p) prompt=$2; shift 2 ;; *) shift ;; esac\ndone\n"
                 "printf '%s' \"$prompt\" >&2\nIFS= read -r line || exit 1\n"
                 "printf '%s\\n' \"$line\" >> '"
                 + sudoLog().toUtf8() + "'\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool FirstHourWalk::matches(QWidget &widget, const QString &key, Match match)
{
    if (match == Match::name)
        return key.isEmpty() || widget.objectName() == key || widget.accessibleName() == key;
    if (auto *button = qobject_cast<QAbstractButton *>(&widget))
        return button->text().replace(QStringLiteral("&&"), QStringLiteral("&")) == key;
    if (auto *label = qobject_cast<QLabel *>(&widget))
        return label->text() == key;
    return false;
}

void FirstHourWalk::click(QWidget &widget) const
{
    QTest::mouseClick(&widget, Qt::LeftButton);
}

void FirstHourWalk::type(const QString &key, const QString &text, QWidget *within) const
{
    QWidget &field = find(key, within);
    field.setFocus();
    QTest::keyClicks(&field, text);
}

void FirstHourWalk::waitFor(const std::function<bool()> &condition, const char *what, int timeoutMs) const
{
    if (!waitUntil(condition, timeoutMs))
        throw std::runtime_error(std::string("timed out waiting for ") + what);
}

void FirstHourWalk::picture(const QString &name, QWidget *widget) const
{
    if (!Screenshots::directory().isEmpty())
        Screenshots::save(widget ? *widget : *window, QStringLiteral("walk/") + name);
}

QStringList FirstHourWalk::dataFilesHolding(const QString &text) const
{
    QStringList found;
    QDirIterator files(applicationSupportDirectory(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
            found.append(file.fileName());
    }
    return found;
}

QStringList FirstHourWalk::widgetsShowing(const QString &text) const
{
    QStringList found;
    for (QWidget *root : QApplication::topLevelWidgets()) {
        QList<QWidget *> widgets = root->findChildren<QWidget *>();
        widgets.prepend(root);
        for (QWidget *widget : widgets) {
            QString shown = widget->toolTip() + widget->accessibleName() + widget->windowTitle();
            if (auto *label = qobject_cast<QLabel *>(widget))
                shown += label->text();
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                shown += button->text();
            if (shown.contains(text))
                found.append(QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ')
                             + widget->objectName());
        }
    }
    return found;
}
