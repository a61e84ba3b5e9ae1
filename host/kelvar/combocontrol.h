#pragma once

#include "hostglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QPointer>
#include <QtWidgets/QWidget>

class QComboBox;
class QLineEdit;
class CommonInputModel;

// An editable combo box over an input model that reports each finished entry.
class HOST_EXPORT ComboControl : public QWidget
{
    Q_OBJECT

public:
    // rememberEntries: a value entered by hand joins the model at the top.
    // reportEmptyEntries: Return on an empty text is reported too.
    ComboControl(CommonInputModel* model, QWidget* parent, bool rememberEntries, bool reportEmptyEntries);

    CommonInputModel* model() const { return m_model; }
    QComboBox* comboBox() const { return m_comboBox; }
    QLineEdit* lineEdit() const { return m_lineEdit; }

    QByteArray value() const;
    void setValue(const QByteArray& value);

signals:
    // Return in the editor or a choice from the list.
    void editDone(const QByteArray& value);

private slots:
    void onReturnPressed();
    void onEditingFinished();
    void onActivated(int index);
    void onModelAboutToChange();
    void onModelChanged();

private:
    // The model may belong to somebody who goes before this editor does.
    QPointer<CommonInputModel> m_model;
    QComboBox* m_comboBox;
    QLineEdit* m_lineEdit;
    bool m_rememberEntries;
    bool m_reportEmptyEntries;
    bool m_finishingReturn = false;
    QByteArray m_valueBeforeChange;
};
