import pytest


@pytest.fixture(scope="session")
def native():
    import trovik._native as native

    return native
