#include "combocontrol.h"

#include "commoninputmodel.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLineEdit>

ComboControl::ComboControl(CommonInputModel* model, QWidget* parent, bool rememberEntries, bool reportEmptyEntries)
    : QWidget(parent)
    , m_model(model)
    , m_comboBox(new QComboBox(this))
    , m_lineEdit(new QLineEdit)
    , m_rememberEntries(rememberEntries)
    , m_reportEmptyEntries(reportEmptyEntries)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_comboBox);
    setFocusProxy(m_comboBox);

    // The combo box's own Return handling may activate the matching entry right after ours: ours
    // is connected before the line edit is handed over, and the flag it sets lasts until the
    // combo box has finished with the same key press.
    connect(m_lineEdit, &QLineEdit::returnPressed, this, &ComboControl::onReturnPressed);
    m_comboBox->setInsertPolicy(QComboBox::NoInsert);
    if (model)
        m_comboBox->setModel(model);
    m_comboBox->setLineEdit(m_lineEdit);
    connect(m_lineEdit, &QLineEdit::editingFinished, this, &ComboControl::onEditingFinished);
    connect(m_comboBox, qOverload<int>(&QComboBox::activated), this, &ComboControl::onActivated);
    if (model) {
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, &ComboControl::onModelAboutToChange);
        connect(model, &QAbstractItemModel::modelReset, this, &ComboControl::onModelChanged);
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, &ComboControl::onModelAboutToChange);
        connect(model, &QAbstractItemModel::rowsInserted, this, &ComboControl::onModelChanged);
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ComboControl::onModelAboutToChange);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &ComboControl::onModelChanged);
    }

    setValue(model ? model->defaultValue() : QByteArray());
}

QByteArray ComboControl::value() const
{
    return m_lineEdit->text().toUtf8();
}

void ComboControl::setValue(const QByteArray& value)
{
    const QString text = QString::fromUtf8(value);
    m_comboBox->setCurrentIndex(m_comboBox->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    m_lineEdit->setText(text);
}

void ComboControl::onReturnPressed()
{
    m_finishingReturn = true;
    const QByteArray entered = value();
    if (entered.isEmpty() && !m_reportEmptyEntries)
        return;
    if (m_rememberEntries && !entered.isEmpty() && m_model)
        m_model->addValue(entered);
    emit editDone(entered);
}

void ComboControl::onEditingFinished()
{
    m_finishingReturn = false;
}

void ComboControl::onActivated(int index)
{
    if (m_finishingReturn)
        return;
    const QByteArray chosen = m_model ? m_model->value(index) : value();
    if (m_rememberEntries && m_model)
        m_model->addValue(chosen);
    emit editDone(chosen);
}

// The combo box rewrites its text when its rows change (a reset clears it, a first row fills it),
// also when another editor over the same model made the change; what the user sees stays.
void ComboControl::onModelAboutToChange()
{
    m_valueBeforeChange = value();
}

void ComboControl::onModelChanged()
{
    setValue(m_valueBeforeChange);
}
