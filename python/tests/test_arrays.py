"""Labelled arrays (xarray) of one file and, lazily through dask, of many."""
import numpy as np
import pytest

import velfile
import velfile.plot as vp

RNG = np.random.default_rng(11)
AXES = [(0.5, 10.0), (2.0, -1.0), (0.1, 0.0)]


def _write(path, seed, shape=(7, 6, 12), axes=AXES, group="Scan"):
    samples = np.random.default_rng(seed).integers(-900, 900, size=shape, dtype=np.int16)
    with velfile.create(path) as f:
        f.create_group("root").create_group(group).write_data(samples, has_data=samples[..., 0] % 5 != 0, axes=axes)
    return path


def test_to_xarray(tmp_path):
    data = velfile.open(_write(str(tmp_path / "a.A01"), 1))["0/Scan"].data
    x = data.to_xarray()
    assert x.dims == ("second", "first", "sample") and x.dtype == np.int16 and x.name == "Scan"
    assert np.allclose(x.first, -1 + 2.0 * np.arange(6)) and np.allclose(x.sample, 0.1 * np.arange(12))
    assert np.array_equal(x.has_data, data.has_data) and np.array_equal(x.values, data.samples)
    masked = x.where(x.has_data)
    assert np.isnan(masked.values[~data.has_data]).all() and not np.isnan(masked.values[data.has_data]).any()
    assert x.attrs["firstAxisFactor"] == 2.0 and x.attrs["units"] == "unit code 0"


def test_coordinates_are_the_decimals_typed(tmp_path):
    data = velfile.open(_write(str(tmp_path / "d.A01"), 3, shape=(2, 3, 200), axes=[(0.1, 0.3), (0.3, 0.0), (0.02, 0.0)]))["0/Scan"].data
    x = data.to_xarray()
    assert x.sel(sample=1.0).shape == (2, 3) and float(x.sample[50]) == 1.0 and float(x.second[1]) == 0.4
    assert list(x.first.values) == [0.0, 0.3, 0.6]
    assert vp.gate_range(data, (1.0, 3.6)) == (50, 181) and vp.gate_range(data, (0.04, 0.04)) == (2, 3)
    assert x.attrs["sampleAxisFactor"] == 0.02  # the shortest decimal of the stored float32
    x = data.to_xarray(units={"sample": "us"})
    assert x.sample.attrs == {"long_name": "sample axis", "units": "us"}
    x.to_netcdf(str(tmp_path / "d.nc"), engine="scipy")  # NETCDF3: no uint32, no bool


def _cscan(array):
    return abs(array.isel(sample=slice(2, 9)).astype("f8")).max("sample").where(array.has_data)


def _eager(paths):
    with_data = []
    for p in paths:
        with velfile.open(p) as f:
            with_data.append(vp.cscan_values(f["0/Scan"].data, slice(2, 9)).filled(np.nan))
    return np.stack(with_data)


@pytest.mark.parametrize("odd,said", [
    (dict(shape=(7, 5, 12)), "shape"), (dict(axes=[(0.5, 10.0), (2.0, -2.0), (0.1, 0.0)]), "first axis"),
    (dict(shape=(7, 6, 12), group="Other"), "no sub-group"), ("damaged", "cannot be read"),
])
def test_open_many_names_the_odd_file(tmp_path, odd, said):
    paths = [_write(str(tmp_path / f"f{i}.A01"), i) for i in range(3)]
    if odd == "damaged":
        data = open(paths[1], "rb").read()
        open(paths[1], "wb").write(data[:len(data) // 2])
    else:
        _write(paths[1], 9, **odd)
    with pytest.raises(velfile.Error, match=said) as e:
        velfile.open_many(paths, group="0/Scan")
    assert paths[1] in str(e.value)


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # from the cluster's event loop
@pytest.mark.parametrize("processes", [False, True])
def test_open_many_matches_the_files_read_one_by_one(tmp_path, processes):
    paths = [_write(str(tmp_path / f"f{i}.A01"), i) for i in range(4 if processes else 40)]
    many = velfile.open_many(paths, group="0/Scan", chunks={"file": 3, "second": 3})
    assert many.dims == ("file", "second", "first", "sample") and list(many.file.values) == paths
    assert many.data.npartitions == len(range(0, len(paths), 3)) * 3
    # Only paths in the graph: no file object, nothing open.
    assert not any(isinstance(a, velfile.File) for task in dict(many.data.dask).values() for a in task)
    if not processes:
        got = _cscan(many).compute(scheduler="threads", num_workers=8)
    else:
        distributed = pytest.importorskip("distributed")
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
            with distributed.Client(cluster) as client:
                got = client.compute(_cscan(many)).result()
                # One file, a task per line: both workers hold it open at once.
                one = velfile.open_many(paths[:1], group="0/Scan", chunks={"file": 1, "second": 1})
                assert np.allclose(client.compute(_cscan(one)).result().values, _eager(paths[:1]), equal_nan=True)
    assert np.allclose(got.values, _eager(paths), equal_nan=True)
