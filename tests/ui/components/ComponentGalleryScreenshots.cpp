#include "ui/components/ConsoleOutputView.h"
#include "ui/components/DetailPageHeader.h"
#include "ui/components/KeychainAccessBanner.h"
#include "ui/components/LabeledField.h"
#include "ui/components/LabeledValueText.h"
#include "ui/components/MacMultilineTextField.h"
#include "ui/components/MacSecureField.h"
#include "ui/components/MacTextField.h"
#include "ui/components/MasterDetailChrome.h"
#include "ui/components/MetricCard.h"
#include "ui/components/ProtectedDataLockButton.h"
#include "ui/components/SectionHeader.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeManager.h"

#include "support/Screenshots.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QWidget *metricCards()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->addWidget(new MetricCard(QStringLiteral("CPU"), QStringLiteral("23.4%"), QStringLiteral("8 cores"),
                                     QStringLiteral("cpu"), Palette::Color::blue, 0.234));
    layout->addWidget(new MetricCard(QStringLiteral("Memory"), QStringLiteral("61.0%"),
                                     QStringLiteral("9.8 GB of 16 GB, a subtitle long enough to wrap onto a second "
                                                    "line and then be cut after it"),
                                     QStringLiteral("memorychip.fill"), Palette::Color::green, 1.7));
    layout->addWidget(new MetricCard(QStringLiteral("GPU"), QStringLiteral("—"), std::nullopt,
                                     QStringLiteral("gauge.open.with.lines.needle.33percent"), Palette::Color::orange));
    layout->addWidget(new MetricCard(QStringLiteral("No symbol"), QStringLiteral("12345678901234567890"), std::nullopt,
                                     std::nullopt, Palette::Color::slate, -0.2));
    return row;
}

QWidget *statusRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->addWidget(new ServiceStatusActionCard(QStringLiteral("Running"), 3, Palette::Color::green, true));
    layout->addWidget(new ServiceStatusActionCard(QStringLiteral("Stopped"), 12, ThemeColor::secondary(), false));
    layout->addWidget(new ServiceStatusActionCard(QStringLiteral("Not Responding"), 0, Palette::Color::orange));
    layout->addWidget(new StatusBadge(QStringLiteral("Running"), Palette::Color::green));
    layout->addWidget(new StatusBadge(QStringLiteral("Stopped"), ThemeColor::secondary()));
    layout->addWidget(new StatusBadge(QStringLiteral("Not Responding"), Palette::Color::orange));
    return row;
}

QWidget *sidebarAndDetail()
{
    auto *chrome = new MasterDetailChrome(240);
    auto *sidebar = new QWidget;
    auto *list = new QVBoxLayout(sidebar);
    list->setContentsMargins(8, 8, 8, 8);
    list->setSpacing(2);
    const QStringList names {QStringLiteral("API server"), QStringLiteral("Worker queue"),
                             QStringLiteral("Database with a long name that is elided")};
    for (int i = 0; i < names.size(); ++i) {
        auto *row = new SelectableSidebarRow;
        row->contentLayout()->addWidget(new SymbolView(QStringLiteral("terminal.fill"), 14, Palette::Color::slate));
        auto *name = new StyledLabel(names[i], TextStyle::body);
        name->setElideMode(Qt::ElideRight);
        row->contentLayout()->addWidget(name, 1);
        row->setSelected(i == 0);
        list->addWidget(row);
    }
    list->addStretch(1);
    chrome->setSidebar(sidebar);

    auto *detail = new QWidget;
    auto *detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(20, 16, 20, 16);
    auto *header = new DetailPageHeader(QStringLiteral("API server with a rather long title that will not fit"), 8);
    auto *edit = new QPushButton(QStringLiteral("Edit"));
    header->actionsLayout()->addWidget(edit);
    header->actionsLayout()->addWidget(new ProtectedDataLockButton(true, false));
    header->actionsLayout()->addWidget(new ProtectedDataLockButton(true, true));
    auto *below = new QHBoxLayout;
    below->setSpacing(8);
    below->addWidget(new StatusBadge(QStringLiteral("Running"), Palette::Color::green));
    below->addWidget(labeledValueText(QStringLiteral("PID"), QStringLiteral("4242")));
    below->addWidget(labeledValueText(QStringLiteral("CPU"), QStringLiteral("12.3%")));
    below->addWidget(labeledValueText(QStringLiteral("Up"), QStringLiteral("1h 2m 5s")));
    below->addStretch(1);
    header->belowTitleLayout()->addLayout(below);
    detailLayout->addWidget(header);
    detailLayout->addWidget(new SectionHeader(QStringLiteral("Output"), QStringLiteral("text.alignleft")));
    auto *console = new ConsoleOutputView;
    QString output;
    for (int i = 0; i < 40; ++i)
        output += QStringLiteral("2026-01-05 15:04:%1 GET /api/items?page=%2 200 in 12 ms\n")
                      .arg(i % 60, 2, 10, QLatin1Char('0'))
                      .arg(i);
    console->setContent(output, false);
    detailLayout->addWidget(console, 1);
    auto *empty = new ConsoleOutputView;
    empty->setMinimumHeight(80);
    detailLayout->addWidget(empty);
    chrome->setDetail(detail);
    chrome->setMinimumHeight(480);
    return chrome;
}

QWidget *formAndBanners()
{
    auto *form = new SurfaceCard(16);
    form->contentLayout()->addWidget(new SectionHeader(QStringLiteral("Service")));
    auto *name = new MacTextField(QStringLiteral("Name"));
    name->setText(QStringLiteral("API server"));
    form->contentLayout()->addWidget(new LabeledField(QStringLiteral("Name"), 90, name));
    form->contentLayout()->addWidget(new LabeledField(
        QStringLiteral("Search"), 90, new MacTextField(QStringLiteral("Search"), MacTextField::Style::plain)));
    form->contentLayout()->addWidget(
        new LabeledField(QStringLiteral("Password"), 90, new MacSecureField(QStringLiteral("Password"))));
    auto *command = new MacMultilineTextField(70);
    command->setBoundText(QStringLiteral("npm run dev -- --port 3000"));
    form->contentLayout()->addWidget(new LabeledField(QStringLiteral("Command"), 90, command));
    form->contentLayout()->addWidget(new KeychainAccessBanner(
        QStringLiteral("Keyring access was denied. Velmora needs permission to store and read secret environment "
                       "variables. Try again and unlock the keyring when the system asks. <b>not bold</b>"),
        KeychainAccessBanner::Style::regular));
    form->contentLayout()->addWidget(new KeychainAccessBanner(
        QStringLiteral("Velmora can’t access the keyring. Permission may have been denied earlier."),
        KeychainAccessBanner::Style::compact));
    form->contentLayout()->addStretch(1);
    return form;
}

} // namespace

TEST(ComponentGalleryScreenshots, EveryComponentInBothThemes)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "screenshots are taken by scripts/screenshots.sh";
    QWidget gallery;
    gallery.setWindowTitle(QStringLiteral("Components"));
    auto *layout = new QGridLayout(&gallery);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    QWidget *metrics = metricCards();
    QWidget *status = statusRow();
    QWidget *chrome = sidebarAndDetail();
    QWidget *form = formAndBanners();
    layout->addWidget(metrics, 0, 0, 1, 2);
    layout->addWidget(status, 1, 0, 1, 2);
    layout->addWidget(chrome, 2, 0);
    layout->addWidget(form, 2, 1);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 2);
    gallery.resize(1400, 980);
    gallery.show();
    for (const auto &[mode, suffix] :
         {std::pair {AppAppearanceMode::light, "light"}, std::pair {AppAppearanceMode::dark, "dark"}}) {
        ThemeManager::instance().apply(mode);
        const QString s = QString::fromLatin1(suffix);
        EXPECT_TRUE(Screenshots::save(gallery, QStringLiteral("components/gallery-") + s));
        EXPECT_TRUE(Screenshots::save(*metrics, QStringLiteral("components/metric-cards-") + s));
        EXPECT_TRUE(Screenshots::save(*status, QStringLiteral("components/status-cards-badges-") + s));
        EXPECT_TRUE(Screenshots::save(*chrome, QStringLiteral("components/chrome-rows-header-console-") + s));
        EXPECT_TRUE(Screenshots::save(*form, QStringLiteral("components/form-inputs-banners-") + s));
    }
}
