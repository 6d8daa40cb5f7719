#include <SolvoEarthKits/response/CallBackManger.h>

#include <algorithm>

void CallBackManger::addCallBack(CallBack* cb)
{
    if (cb)
        _callBacks.push_back(cb);
}

void CallBackManger::removeCallBack(CallBack* cb)
{
    if (cb)
        _callBacks.erase(std::remove(_callBacks.begin(), _callBacks.end(), cb), _callBacks.end());
}
