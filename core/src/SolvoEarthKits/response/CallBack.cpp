#include <SolvoEarthKits/response/CallBack.h>

bool CallBack::response(std::string, int)
{
    return true;
}

bool CallBack::response(std::string)
{
    return true;
}

bool CallBack::response(int)
{
    return true;
}
