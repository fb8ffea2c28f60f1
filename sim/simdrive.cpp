#include "simdrive.h"

#include "termiosline.h"

namespace {

enum ExceptionCode : quint8 { IllegalFunction = 1, IllegalAddress = 2, IllegalValue = 3 };

quint16 word(const QByteArray &pdu, int offset)
{
    return quint16((quint8(pdu[offset]) << 8) | quint8(pdu[offset + 1]));
}

void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

QByteArray exceptionAnswer(quint8 function, quint8 code)
{
    QByteArray answer;
    answer.append(char(function | 0x80));
    answer.append(char(code));
    return answer;
}

// Which area a function works on, whether on bits, and its quantity limit.
struct FunctionInfo
{
    SimArea area;
    bool bitArea;
    int maxQuantity;
};

bool functionInfo(quint8 function, FunctionInfo *info)
{
    switch (function) {
    case 1:
        *info = {SimArea::Coils, true, 2000};
        return true;
    case 2:
        *info = {SimArea::DiscreteInputs, true, 2000};
        return true;
    case 3:
        *info = {SimArea::HoldingRegisters, false, 125};
        return true;
    case 4:
        *info = {SimArea::InputRegisters, false, 125};
        return true;
    case 5:
        *info = {SimArea::Coils, true, 1};
        return true;
    case 6:
        *info = {SimArea::HoldingRegisters, false, 1};
        return true;
    case 15:
        *info = {SimArea::Coils, true, 1968};
        return true;
    case 16:
        *info = {SimArea::HoldingRegisters, false, 123};
        return true;
    default:
        return false;
    }
}

} // namespace

SimDrive::SimDrive(int station, const SimAreaSizes &sizes) : m_station(station)
{
    const int counts[4] = {sizes.coils, sizes.discreteInputs, sizes.holdingRegisters, sizes.inputRegisters};
    for (int i = 0; i < 4; ++i)
        m_areas[i].assign(size_t(qBound(0, counts[i], 65536)), 0);
    std::vector<quint16> &inputs = m_areas[int(SimArea::InputRegisters)];
    for (size_t a = 0; a < inputs.size(); ++a)
        inputs[a] = quint16(station * 1000 + int(a));
    std::vector<quint16> &discrete = m_areas[int(SimArea::DiscreteInputs)];
    for (size_t a = 0; a < discrete.size(); a += 3)
        discrete[a] = 1;
}

void SimDrive::setModel(DriveModel model, quint64 seed)
{
    m_model.reset();
    if (model == DriveModel::Servo) {
        // Each drive of a line its own noise.
        const quint64 mixed = seed + quint64(m_station) * 0x9E3779B97F4A7C15ULL;
        m_model.reset(new ServoModel(mixed, monotonicNs()));
    }
}

int SimDrive::size(SimArea area) const
{
    return int(m_areas[int(area)].size());
}

void SimDrive::advance() const
{
    if (m_model)
        m_model->advance(monotonicNs());
}

quint16 SimDrive::value(SimArea area, int address) const
{
    advance();
    return peek(area, address);
}

bool SimDrive::setValue(SimArea area, int address, quint16 value)
{
    advance();
    return store(area, address, value);
}

quint16 SimDrive::peek(SimArea area, int address) const
{
    if (address < 0 || address >= size(area))
        return 0;
    quint16 modelled = 0;
    if (m_model && m_model->read(area, address, &modelled))
        return modelled;
    return m_areas[int(area)][size_t(address)];
}

bool SimDrive::store(SimArea area, int address, quint16 value)
{
    if (address < 0 || address >= size(area))
        return false;
    const bool bitArea = area == SimArea::Coils || area == SimArea::DiscreteInputs;
    if (bitArea)
        value = value ? 1 : 0;
    if (!m_model || !m_model->write(area, address, value))
        m_areas[int(area)][size_t(address)] = value;
    return true;
}

QByteArray SimDrive::execute(const QByteArray &pdu)
{
    if (pdu.isEmpty())
        return exceptionAnswer(0, IllegalFunction);
    const quint8 function = quint8(pdu[0]);
    FunctionInfo info;
    if (!functionInfo(function, &info))
        return exceptionAnswer(function, IllegalFunction);
    const bool single = function == 5 || function == 6;
    const bool multiple = function == 15 || function == 16;

    // Data value checks: the request's own shape and its quantity.
    if (pdu.size() < 5)
        return exceptionAnswer(function, IllegalValue);
    const int address = word(pdu, 1);
    const int quantity = single ? 1 : word(pdu, 3);
    if (quantity < 1 || quantity > info.maxQuantity)
        return exceptionAnswer(function, IllegalValue);
    int byteCount = 0;
    if (multiple) {
        byteCount = pdu.size() > 5 ? quint8(pdu[5]) : -1;
        const int expected = info.bitArea ? (quantity + 7) / 8 : quantity * 2;
        if (byteCount != expected || pdu.size() != 6 + byteCount)
            return exceptionAnswer(function, IllegalValue);
    } else if (pdu.size() != 5) {
        return exceptionAnswer(function, IllegalValue);
    }
    if (function == 5 && word(pdu, 3) != 0xFF00 && word(pdu, 3) != 0x0000)
        return exceptionAnswer(function, IllegalValue);
    if (address + quantity > size(info.area))
        return exceptionAnswer(function, IllegalAddress);
    advance();

    QByteArray answer;
    answer.append(char(function));
    if (single) {
        store(info.area, address, word(pdu, 3));
        answer.append(pdu.mid(1, 4));
    } else if (multiple) {
        for (int i = 0; i < quantity; ++i) {
            const quint16 v = info.bitArea ? quint16((quint8(pdu[6 + i / 8]) >> (i % 8)) & 1) : word(pdu, 6 + 2 * i);
            store(info.area, address + i, v);
        }
        answer.append(pdu.mid(1, 4));
    } else if (info.bitArea) {
        QByteArray packed((quantity + 7) / 8, '\0');
        for (int i = 0; i < quantity; ++i) {
            if (peek(info.area, address + i))
                packed[i / 8] = char(quint8(packed[i / 8]) | (1 << (i % 8)));
        }
        answer.append(char(packed.size()));
        answer.append(packed);
    } else {
        answer.append(char(quantity * 2));
        for (int i = 0; i < quantity; ++i)
            appendWord(answer, peek(info.area, address + i));
    }
    return answer;
}
