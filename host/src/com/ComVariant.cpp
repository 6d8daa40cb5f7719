#include "com/ComVariant.h"

namespace FB::Com {

ComVariant ComVariant::null()
{
    ComVariant value;
    value._value = NullValue();
    return value;
}

ComVariant::ComVariant(IDispatch* object)
{
    if (object)
        _value = DispatchRef(object);
    else
        _value = NullValue();
}

ComVariant::Type ComVariant::type() const
{
    switch (_value.index())
    {
    case 0: return Type::Empty;
    case 1: return Type::Null;
    case 2: return Type::Bool;
    case 3: return Type::Int32;
    case 4: return Type::Double;
    case 5: return Type::String;
    default: return Type::Dispatch;
    }
}

IDispatch* ComVariant::dispatchValue() const
{
    const DispatchRef* object = std::get_if<DispatchRef>(&_value);
    return object ? object->get() : nullptr;
}

} // namespace FB::Com
