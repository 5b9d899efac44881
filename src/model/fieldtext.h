#pragma once

#include <QString>
#include <QStringView>

// One field text, "NAME[first:second]=VALUE#DESCRIPTION", split into its parts.
// Registers use it both to declare fields and to resolve references such as
// "CR5A[9:8]" or "DIO[EN]". Texts of any length are held in full.
struct FieldSpec
{
    explicit FieldSpec(QStringView text = {});

    // The text's sections, in order.
    QString name;
    QString first;
    QString second;
    QString valueText;
    QString description;

    bool hasColon = false;
    bool hasBracket = false;
    bool symbolic = false;
    bool hasValue = false;
    bool allBits = false;
    bool valid = true;
    int lo = 0;
    int hi = 0;
    quint32 value = 0;

    // "[]" reaches this index: with 0 it spans 10001 bits.
    static constexpr int AllBitsHigh = 10000;

    // Number of bits the text declares in a description: the index itself when
    // both indices are equal and above 0, otherwise hi - lo + 1.
    qint64 width() const;
};
