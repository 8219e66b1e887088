namespace platform {

// Linux timers are fine-grained already; the request is granted without asking.
bool requestFineTimer()
{
    return true;
}

void releaseFineTimer() {}

} // namespace platform
