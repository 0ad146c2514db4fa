// Entry point of the installer: static initialisation and start-up.
int main() {
    return 0;
}
