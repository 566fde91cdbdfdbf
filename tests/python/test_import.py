import quillex


def test_module_imports():
    assert quillex.__doc__ == "quillex module"
